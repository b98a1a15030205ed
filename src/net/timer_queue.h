// The one-shot timers of an event loop: what is due when, and firing what is due in order. Each
// loop brings the waiting (poll's timeout, a window timer); the order is the same everywhere.
#pragma once

#include <map>
#include <optional>
#include <vector>

#include "net/event_loop.h"

namespace qm::net {

class TimerQueue {
  public:
    using Clock = EventLoop::Clock;
    using TimerId = EventLoop::TimerId;

    // Returns the timer's id, never 0.
    TimerId Start(Clock::time_point due, EventLoop::Handler handler);
    void Stop(TimerId id) { timers_.erase(id); }

    // When the earliest timer comes due; nothing without timers.
    std::optional<Clock::time_point> NextDue() const;

    // Runs the handlers of the timers due at `now`, earliest first, equal due times in the order
    // they were started, while `mayRun` says so (a handler may hold or stop the loop). Returns
    // the number of handlers run.
    template <typename MayRun>
    int FireDue(Clock::time_point now, MayRun const& mayRun);

    std::size_t size() const { return timers_.size(); }

  private:
    struct Timer {
        Clock::time_point due;
        EventLoop::Handler handler;
    };
    // The ids of the timers due at `now`, in firing order.
    std::vector<TimerId> DueAt(Clock::time_point now) const;
    // Takes the handler of a timer that is still there (an earlier handler may have stopped it).
    EventLoop::Handler Take(TimerId id);

    std::map<TimerId, Timer> timers_;  // by id, which rises with every start
    TimerId lastTimer_ = 0;
};

template <typename MayRun>
int TimerQueue::FireDue(Clock::time_point now, MayRun const& mayRun) {
    int ran = 0;
    for (TimerId const id : DueAt(now)) {
        if (!mayRun()) {
            break;
        }
        if (EventLoop::Handler handler = Take(id)) {
            handler();
            ++ran;
        }
    }
    return ran;
}

}  // namespace qm::net
