// Turning the platform's event loop in a test: bounded, a short wait at a time.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <thread>

#include "platform_loop.h"

namespace qm::test {

// Turns the loop, waiting at most 10 ms a turn, until `done` holds or `limit` has passed; tells
// whether `done` holds.
inline bool RunUntil(PlatformLoop& loop, std::function<bool()> const& done,
                     std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    auto const deadline = std::chrono::steady_clock::now() + limit;
    while (!done() && std::chrono::steady_clock::now() < deadline) {
        loop.RunOnce(std::chrono::milliseconds(10));
    }
    return done();
}

// A time source that moves only when told.
struct ManualClock {
    PlatformLoop::Clock::time_point now{std::chrono::hours(1)};
    PlatformLoop::TimeSource source() {
        return [this] { return now; };
    }
    void Advance(std::chrono::milliseconds by) { now += by; }
};

// Ends the whole test program if the scope is not left within `seconds`: for calls such as
// Run() that cannot be bounded otherwise.
class Watchdog {
  public:
    explicit Watchdog(unsigned seconds)
        : thread_([this, seconds] {
              std::unique_lock lock(mutex_);
              if (!left_.wait_for(lock, std::chrono::seconds(seconds), [this] { return done_; })) {
                  std::fputs("watchdog: the scope was not left in time\n", stderr);
                  std::_Exit(124);
              }
          }) {}
    ~Watchdog() {
        {
            std::lock_guard const lock(mutex_);
            done_ = true;
        }
        left_.notify_one();
        thread_.join();
    }
    Watchdog(Watchdog const&) = delete;
    Watchdog& operator=(Watchdog const&) = delete;

  private:
    std::mutex mutex_;
    std::condition_variable left_;
    bool done_ = false;
    std::thread thread_;  // last: started once the rest is there
};

}  // namespace qm::test
