#include "update_server/read_stall_watch.h"

#include <linux/sockios.h>
#include <sys/ioctl.h>

namespace qm::server {

std::chrono::milliseconds ReadStallWatch::CheckInterval() const {
    return std::chrono::milliseconds(limit_) / 4;
}

void ReadStallWatch::Sent(std::size_t taken) {
    if (taken > 0) {
        lastProgress_ = loop_.Now();
    }
    if (!timer_.running()) {
        lastProgress_ = loop_.Now();
        lastOwed_ = Owed();
        timer_.Start(CheckInterval(), [this] { Check(); });
    }
}

// The outbox, and what the socket holds unsent or unacknowledged.
std::size_t ReadStallWatch::Owed() const {
    int queued = 0;
    if (::ioctl(static_cast<int>(socket_.native()), SIOCOUTQ, &queued) != 0 || queued < 0) {
        queued = 0;
    }
    return outbox_.pending() + static_cast<std::size_t>(queued);
}

void ReadStallWatch::Check() {
    std::size_t const owed = Owed();
    if (owed == 0) {
        return;  // all taken: watched again from the next send on
    }
    auto const now = loop_.Now();
    // Only sends add to what is owed, and each send that takes bytes counts as progress itself.
    if (owed < lastOwed_) {
        lastProgress_ = now;
    }
    lastOwed_ = owed;
    if (now - lastProgress_ >= limit_) {
        std::function<void()> const stalled = onStall_;  // the handler may end this watch
        return stalled();
    }
    timer_.Start(CheckInterval(), [this] { Check(); });
}

}  // namespace qm::server
