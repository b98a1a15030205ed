#include "update_server/throttled_log.h"

#include <algorithm>
#include <utility>

namespace qm::server {

ThrottledLog::~ThrottledLog() {
    if (held_ > 0) {
        WriteHeld();
    }
}

void ThrottledLog::Note(std::string text) {
    auto const now = loop_.Now();
    if (held_ == 0 && (!lastLine_ || now - *lastLine_ >= kThrottleInterval)) {
        log_.Note(text);
        lastLine_ = now;
        return;
    }
    ++held_;
    latest_ = std::move(text);
    if (!timer_.running()) {
        auto const wait =
            std::chrono::ceil<std::chrono::milliseconds>(*lastLine_ + kThrottleInterval - now);
        timer_.Start(std::max(wait, std::chrono::milliseconds(0)), [this] { WriteHeld(); });
    }
}

void ThrottledLog::WriteHeld() {
    std::string line = std::move(latest_);
    if (held_ > 1) {
        line += " (the last of " + std::to_string(held_) + " such events in a second)";
    }
    held_ = 0;
    latest_.clear();
    lastLine_ = loop_.Now();
    log_.Note(line);
}

}  // namespace qm::server
