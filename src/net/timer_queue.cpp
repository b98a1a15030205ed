#include "net/timer_queue.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace qm::net {

TimerQueue::TimerId TimerQueue::Start(Clock::time_point due, EventLoop::Handler handler) {
    timers_[++lastTimer_] = Timer{due, std::move(handler)};
    return lastTimer_;
}

std::optional<TimerQueue::Clock::time_point> TimerQueue::NextDue() const {
    std::optional<Clock::time_point> earliest;
    for (auto const& [id, timer] : timers_) {
        if (!earliest || timer.due < *earliest) {
            earliest = timer.due;
        }
    }
    return earliest;
}

std::vector<TimerQueue::TimerId> TimerQueue::DueAt(Clock::time_point now) const {
    std::vector<std::pair<Clock::time_point, TimerId>> due;
    for (auto const& [id, timer] : timers_) {
        if (timer.due <= now) {
            due.emplace_back(timer.due, id);
        }
    }
    std::sort(due.begin(), due.end());
    std::vector<TimerId> ids;
    ids.reserve(due.size());
    for (auto const& [when, id] : due) {
        ids.push_back(id);
    }
    return ids;
}

EventLoop::Handler TimerQueue::Take(TimerId id) {
    auto const found = timers_.find(id);
    if (found == timers_.end()) {
        return nullptr;
    }
    EventLoop::Handler handler = std::move(found->second.handler);
    timers_.erase(found);
    return handler;
}

}  // namespace qm::net
