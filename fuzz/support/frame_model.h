// How a received byte stream divides into frames, worked out on the whole stream at once (the
// wire oracle's SplitFrames). The fuzz harnesses compare the product's reassembly with this.
#pragma once

#include "support/wire.h"

namespace qm::fuzz {

using test::FrameStream;
using test::SplitFrames;

}  // namespace qm::fuzz
