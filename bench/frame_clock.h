// The times of the frames that bound what a user waits for, seen on the link between the updater
// and the server (as a LinkEmulator's tap): the description of the file to check, the first
// chunk request, the empty chunk that ends a download, the acknowledgements that follow the
// description and the empty chunk, and the summary that reports the whole run complete.
#pragma once

#include <mutex>
#include <optional>

#include "support/link_emulator.h"
#include "support/wire.h"

namespace qm::bench {

class FrameClock {
  public:
    using Clock = std::chrono::steady_clock;
    using Time = std::optional<Clock::time_point>;

    struct Times {
        Time description;     // the first FileDescription of a file to check
        Time descriptionAck;  // the Ack that follows it
        Time firstRequest;    // the first ChunkRequest
        Time lastByte;        // the last bytes from the server so far
        Time emptyChunk;      // the DataChunk of no data
        Time emptyChunkAck;   // the Ack that follows it
        Time completion;      // the ListSummary that reports the whole run complete
    };

    auto Tap() {
        return [this](test::LinkDirection direction, std::span<const std::uint8_t> bytes,
                      Clock::time_point at) { Take(direction, bytes, at); };
    }
    Times times() const {
        std::lock_guard lock(mutex_);
        return times_;
    }

  private:
    void Take(test::LinkDirection direction, std::span<const std::uint8_t> bytes,
              Clock::time_point at) {
        bool const toServer = direction == test::LinkDirection::ToServer;
        std::lock_guard lock(mutex_);
        test::Bytes& pending = toServer ? fromClient_ : fromServer_;
        pending.insert(pending.end(), bytes.begin(), bytes.end());
        std::size_t used = 0;  // whole frames only: a partial one waits for the rest
        for (std::span<const std::uint8_t> frame : test::SplitFrames(pending).frames) {
            if (test::FrameType(frame) == test::kUpdateType) {
                (toServer ? FromClient(frame, at) : FromServer(frame, at));
            }
            used += frame.size();
        }
        pending.erase(pending.begin(), pending.begin() + static_cast<long>(used));
        if (!toServer) {
            times_.lastByte = at;
        }
    }
    void FromServer(std::span<const std::uint8_t> frame, Clock::time_point at) {
        if (test::Kind(frame) == 1 && frame.size() > 15 && frame[15] == 1 && !times_.description) {
            times_.description = at;
        } else if (test::Kind(frame) == 3 && frame.size() >= 21 && test::Read16(frame, 19) == 0) {
            times_.emptyChunk = at;
        } else if (test::Kind(frame) == 7 && frame.size() >= 148 && frame[147] == 1) {
            times_.completion = at;
        }
    }
    void FromClient(std::span<const std::uint8_t> frame, Clock::time_point at) {
        if (test::Kind(frame) == 2 && !times_.firstRequest) {
            times_.firstRequest = at;
        } else if (test::Kind(frame) == 0) {
            if (times_.description && !times_.descriptionAck) {
                times_.descriptionAck = at;
            }
            if (times_.emptyChunk && !times_.emptyChunkAck) {
                times_.emptyChunkAck = at;
            }
        }
    }

    mutable std::mutex mutex_;
    test::Bytes fromClient_;
    test::Bytes fromServer_;
    Times times_;
};

}  // namespace qm::bench
