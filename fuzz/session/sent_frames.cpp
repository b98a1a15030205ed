#include "session/sent_frames.h"

#include <string>

#include "support/violation.h"
#include "support/wire_format.h"

namespace qm::fuzz {

void SentFrames::Take(std::vector<std::uint8_t> const& bytes) {
    pending_.insert(pending_.end(), bytes.begin(), bytes.end());
    std::size_t at = 0;
    while (pending_.size() - at >= 15) {
        std::size_t const length = pending_[at] * 256u + pending_[at + 1];
        std::uint8_t const type = pending_[at + 2];
        std::uint8_t const kind = pending_[at + 11];
        std::size_t const expected = wire::ClientMessageLength(type, kind);
        if (expected == 0 || length != expected) {
            Violation("the updater sent a frame of type " + std::to_string(type) + ", kind " +
                      std::to_string(kind) + " and length " + std::to_string(length));
        }
        if (pending_.size() - at < length) {
            break;
        }
        at += length;
        ++count_;
    }
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(at));
}

}  // namespace qm::fuzz
