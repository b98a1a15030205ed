// A one-shot timer on an event loop that stops when it is destroyed, so that no handler outlives
// the object it belongs to.
#pragma once

#include <chrono>

#include "net/event_loop.h"

namespace qm::net {

class Timer {
  public:
    explicit Timer(EventLoop& loop) : loop_(loop) {}
    ~Timer() { Stop(); }
    Timer(Timer const&) = delete;
    Timer& operator=(Timer const&) = delete;

    // Runs `handler` once, `delay` from now; a timer that is running is restarted.
    void Start(std::chrono::milliseconds delay, EventLoop::Handler handler) {
        Stop();
        id_ = loop_.StartTimer(delay, [this, handler = std::move(handler)] {
            id_ = 0;
            handler();
        });
    }

    void Stop() {
        if (id_ != 0) {
            loop_.StopTimer(id_);
            id_ = 0;
        }
    }

    bool running() const { return id_ != 0; }

  private:
    EventLoop& loop_;
    EventLoop::TimerId id_ = 0;
};

}  // namespace qm::net
