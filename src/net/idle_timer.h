// A timer that fires once a stretch of time passes without activity. Marking activity costs one
// reading of the loop's clock, not a restart of a loop timer: the loop timer runs to the earliest
// moment the limit could be reached and, when it comes due, either fires or waits for the rest.
// So a busy connection can mark every frame without touching the loop's timers.
#pragma once

#include <chrono>
#include <utility>

#include "net/event_loop.h"
#include "net/timer.h"

namespace qm::net {

class IdleTimer {
  public:
    explicit IdleTimer(EventLoop& loop) : loop_(loop), timer_(loop) {}

    // `handler` runs once `limit` passes without a Touch; starting again restarts the count.
    void Start(std::chrono::milliseconds limit, EventLoop::Handler handler) {
        limit_ = limit;
        handler_ = std::move(handler);
        Touch();
        WaitFor(limit_);
    }

    // Activity: the count starts again from now.
    void Touch() { lastActivity_ = loop_.Now(); }

    void Stop() {
        timer_.Stop();
        handler_ = nullptr;
    }

    bool running() const { return timer_.running(); }

  private:
    void WaitFor(std::chrono::milliseconds delay) {
        timer_.Start(delay, [this] { OnDue(); });
    }

    void OnDue() {
        auto const quiet = loop_.Now() - lastActivity_;
        if (quiet < limit_) {
            return WaitFor(std::chrono::ceil<std::chrono::milliseconds>(limit_ - quiet));
        }
        EventLoop::Handler const handler = std::exchange(handler_, nullptr);
        handler();
    }

    EventLoop& loop_;
    Timer timer_;
    std::chrono::milliseconds limit_{0};
    EventLoop::Clock::time_point lastActivity_;
    EventLoop::Handler handler_;
};

}  // namespace qm::net
