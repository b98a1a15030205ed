#include "support/frame_model.h"

namespace qm::fuzz {

FrameStream SplitFrames(std::span<const std::uint8_t> stream) {
    FrameStream result;
    std::size_t at = 0;
    while (stream.size() - at >= 2) {
        unsigned const length = stream[at] * 256u + stream[at + 1];
        if (length < 3 || length > 2051) {
            result.brokenLength = length;
            result.consumed = at + 2;
            return result;
        }
        if (stream.size() - at < length) {
            break;
        }
        result.frames.push_back(stream.subspan(at, length));
        at += length;
    }
    result.consumed = stream.size();
    return result;
}

}  // namespace qm::fuzz
