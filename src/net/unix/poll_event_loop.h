// EventLoop on poll(2), with an injectable clock so that tests can move time without sleeping.
#pragma once

#include <poll.h>

#include <chrono>
#include <functional>
#include <map>
#include <vector>

#include "net/event_loop.h"
#include "net/timer_queue.h"

namespace qm::net {

class PollEventLoop final : public EventLoop {
  public:
    using TimeSource = std::function<Clock::time_point()>;

    // `now` defaults to the steady clock.
    explicit PollEventLoop(TimeSource now = {});

    void Watch(SocketHandle fd, Interest interest, Handler handler) override;
    void Unwatch(SocketHandle fd, Interest interest) override;
    TimerId StartTimer(std::chrono::milliseconds delay, Handler handler) override;
    void StopTimer(TimerId id) override;
    Clock::time_point Now() const override { return now_(); }
    void Run() override;
    void Stop() override;
    bool Stopped() const override { return stopped_; }

    // One turn of the loop: waits at most `maxWait` (less when a timer comes due earlier by the
    // time source) for ready descriptors, then runs the handlers of ready descriptors and of due
    // timers. Returns the number of handlers run. With a manual time source, RunOnce(0ms) after
    // moving the clock fires the timers that are due without sleeping.
    int RunOnce(std::chrono::milliseconds maxWait);

    // Number of watched (fd, interest) pairs and running timers; for tests.
    std::size_t WatchCount() const;

  protected:
    void Hold() override { ++holds_; }
    void Release() override { --holds_; }

  private:
    struct Watcher {
        Handler readable;
        Handler writable;
    };
    int FireDueTimers();
    int DispatchReady(std::vector<struct pollfd> const& fds);
    std::chrono::nanoseconds TimeToNextTimer(std::chrono::milliseconds cap) const;

    TimeSource now_;
    std::map<int, Watcher> watchers_;
    TimerQueue timers_;
    std::vector<struct pollfd> pollList_;
    int holds_ = 0;
    bool stopped_ = false;
};

}  // namespace qm::net
