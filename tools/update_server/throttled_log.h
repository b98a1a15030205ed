// Log lines for events that may come in floods (connections refused or closed by a limit, accepts
// that fail): at most one line a second. What comes within the second is counted and written,
// with its count, when the second is over.
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>

#include "net/event_loop.h"
#include "net/timer.h"
#include "update_server/server_log.h"

namespace qm::server {

inline constexpr std::chrono::seconds kThrottleInterval{1};

class ThrottledLog {
  public:
    ThrottledLog(ServerLog& log, net::EventLoop& loop) : log_(log), loop_(loop), timer_(loop) {}
    ~ThrottledLog();
    ThrottledLog(ThrottledLog const&) = delete;
    ThrottledLog& operator=(ThrottledLog const&) = delete;

    void Note(std::string text);

  private:
    void WriteHeld();

    ServerLog& log_;
    net::EventLoop& loop_;
    net::Timer timer_;
    std::optional<net::EventLoop::Clock::time_point> lastLine_;
    std::size_t held_ = 0;  // events since the last line
    std::string latest_;    // the latest of them
};

}  // namespace qm::server
