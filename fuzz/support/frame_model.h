// How a received byte stream divides into frames, worked out on the whole stream at once: each
// frame is its two length bytes and length - 2 more. A length outside 3..2051 breaks the stream
// there. The fuzz harnesses compare the product's reassembly with this.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace qm::fuzz {

struct FrameStream {
    std::vector<std::span<const std::uint8_t>> frames;  // complete frames, in order
    std::optional<unsigned> brokenLength;               // the length field that broke the stream
    std::size_t consumed = 0;  // bytes taken: all, or up to the broken length field's end
};

FrameStream SplitFrames(std::span<const std::uint8_t> stream);

}  // namespace qm::fuzz
