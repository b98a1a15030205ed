// The times of the frames that bound what a user waits for, seen on the link between the updater
// and the server (as a LinkEmulator's tap): the server's announcement, the description of the
// file to check, the first request for a file's data (a chunk, or a stream), the empty chunk that
// ends a download, the updater's next message after that and after the description, the
// updater's last list request (the acknowledgement of the last list), and the summary that
// reports the whole run complete. On request it also keeps every byte the updater sent, for
// comparing two builds byte for byte.
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
        Time announcement;     // the server's announcement of the update service
        Time description;      // the first FileDescription of a file to check
        Time descriptionAck;   // the Ack that follows it
        Time firstRequest;     // the first ChunkRequest or StreamRequest
        Time lastByte;         // the last bytes from the server so far
        Time emptyChunk;       // the DataChunk of no data
        Time emptyChunkAck;    // the updater's next update message: an Ack, or a list request
        Time lastListRequest;  // the updater's last ListRequest so far
        Time completion;       // the ListSummary that reports the whole run complete
    };

    explicit FrameClock(bool keepSent = false) : keepSent_(keepSent) {}

    auto Tap() {
        return [this](test::LinkDirection direction, std::span<const std::uint8_t> bytes,
                      Clock::time_point at) { Take(direction, bytes, at); };
    }
    Times times() const {
        std::lock_guard lock(mutex_);
        return times_;
    }
    // Every byte the updater sent, when the clock was made to keep them.
    test::Bytes sent() const {
        std::lock_guard lock(mutex_);
        return sent_;
    }

  private:
    // Message kinds.
    static constexpr std::uint8_t kAnnouncement = 3;  // of a network frame
    static constexpr std::uint8_t kAck = 0;
    static constexpr std::uint8_t kDescription = 1;
    static constexpr std::uint8_t kChunkRequest = 2;
    static constexpr std::uint8_t kDataChunk = 3;
    static constexpr std::uint8_t kListRequest = 6;
    static constexpr std::uint8_t kListSummary = 7;
    static constexpr std::uint8_t kStreamRequest = 10;

    void Take(test::LinkDirection direction, std::span<const std::uint8_t> bytes,
              Clock::time_point at) {
        bool const toServer = direction == test::LinkDirection::ToServer;
        std::lock_guard lock(mutex_);
        if (toServer && keepSent_) {
            sent_.insert(sent_.end(), bytes.begin(), bytes.end());
        }
        test::Bytes& pending = toServer ? fromClient_ : fromServer_;
        pending.insert(pending.end(), bytes.begin(), bytes.end());
        std::size_t used = 0;  // whole frames only: a partial one waits for the rest
        for (std::span<const std::uint8_t> frame : test::SplitFrames(pending).frames) {
            (toServer ? FromClient(frame, at) : FromServer(frame, at));
            used += frame.size();
        }
        pending.erase(pending.begin(), pending.begin() + static_cast<long>(used));
        if (!toServer) {
            times_.lastByte = at;
        }
    }
    void FromServer(std::span<const std::uint8_t> frame, Clock::time_point at) {
        std::uint8_t const kind = test::Kind(frame);
        if (test::FrameType(frame) == test::kNetworkType) {
            if (kind == kAnnouncement && !times_.announcement) {
                times_.announcement = at;
            }
        } else if (test::FrameType(frame) != test::kUpdateType) {
            return;
        } else if (kind == kDescription && frame.size() > 15 && frame[15] == 1 &&
                   !times_.description) {
            times_.description = at;
        } else if (kind == kDataChunk && frame.size() >= 21 && test::Read16(frame, 19) == 0) {
            times_.emptyChunk = at;
        } else if (kind == kListSummary && frame.size() >= 148 && frame[147] == 1) {
            times_.completion = at;
        }
    }
    void FromClient(std::span<const std::uint8_t> frame, Clock::time_point at) {
        if (test::FrameType(frame) != test::kUpdateType) {
            return;
        }
        std::uint8_t const kind = test::Kind(frame);
        if ((kind == kChunkRequest || kind == kStreamRequest) && !times_.firstRequest) {
            times_.firstRequest = at;
        }
        if (kind == kAck && times_.description && !times_.descriptionAck) {
            times_.descriptionAck = at;
        }
        if (kind == kListRequest) {
            times_.lastListRequest = at;
        }
        if (times_.emptyChunk && !times_.emptyChunkAck) {
            times_.emptyChunkAck = at;
        }
    }

    bool const keepSent_;
    mutable std::mutex mutex_;
    test::Bytes fromClient_;
    test::Bytes fromServer_;
    test::Bytes sent_;
    Times times_;
};

}  // namespace qm::bench
