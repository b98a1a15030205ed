#include "net/unix/poll_event_loop.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <utility>

namespace qm::net {

namespace {

// Longest single wait of Run(); it only bounds how long a turn sleeps when nothing is due.
constexpr std::chrono::milliseconds kLongestWait{1000};

// Error and hang-up conditions wake both interests, so the handler meets them in its own I/O.
constexpr short kTroubleEvents = POLLERR | POLLHUP | POLLNVAL;

bool ReadyFor(short revents, short wanted) {
    return (revents & (wanted | kTroubleEvents)) != 0;
}

// The kernel lets a wait end up to a thousandth of its length late (at least 50 us): a wait of a
// second for a timer could end a millisecond after it came due. So a long wait stops this much
// short of the timer, and the rest is a second, short wait that ends within microseconds of it.
constexpr std::chrono::milliseconds kLastStretch{20};

int PollFor(std::vector<pollfd>& fds, std::chrono::nanoseconds wait) {
    auto const seconds = std::chrono::floor<std::chrono::seconds>(wait);
    timespec const timeout{static_cast<time_t>(seconds.count()),
                           static_cast<long>((wait - seconds).count())};
    int const result = ::ppoll(fds.data(), fds.size(), &timeout, nullptr);
    if (result < 0) {
        // An interrupted wait is an ordinary empty turn.
        for (pollfd& fd : fds) {
            fd.revents = 0;
        }
        return 0;
    }
    return result;
}

}  // namespace

PollEventLoop::PollEventLoop(TimeSource now)
    : now_(now ? std::move(now) : TimeSource{[] { return Clock::now(); }}) {}

void PollEventLoop::Watch(SocketHandle socket, Interest interest, Handler handler) {
    Watcher& watcher = watchers_[static_cast<int>(socket.native())];
    if (interest == Interest::Readable) {
        watcher.readable = std::move(handler);
    } else {
        watcher.writable = std::move(handler);
    }
}

void PollEventLoop::Unwatch(SocketHandle socket, Interest interest) {
    auto const found = watchers_.find(static_cast<int>(socket.native()));
    if (found == watchers_.end()) {
        return;
    }
    Watcher& watcher = found->second;
    if (interest == Interest::Readable) {
        watcher.readable = nullptr;
    } else {
        watcher.writable = nullptr;
    }
    if (!watcher.readable && !watcher.writable) {
        watchers_.erase(found);
    }
}

EventLoop::TimerId PollEventLoop::StartTimer(std::chrono::milliseconds delay, Handler handler) {
    return timers_.Start(now_() + delay, std::move(handler));
}

void PollEventLoop::StopTimer(TimerId id) {
    timers_.Stop(id);
}

void PollEventLoop::Run() {
    while (!stopped_) {
        RunOnce(kLongestWait);
    }
}

void PollEventLoop::Stop() {
    stopped_ = true;
}

std::size_t PollEventLoop::WatchCount() const {
    std::size_t count = timers_.size();
    for (auto const& [fd, watcher] : watchers_) {
        count += (watcher.readable ? 1 : 0) + (watcher.writable ? 1 : 0);
    }
    return count;
}

int PollEventLoop::RunOnce(std::chrono::milliseconds maxWait) {
    if (holds_ > 0 || stopped_) {
        // Nothing may run: just let the time pass.
        std::vector<pollfd> none;
        PollFor(none, std::max(maxWait, std::chrono::milliseconds{0}));
        return 0;
    }
    // The list of the last turn is reused, so that a turn allocates nothing; taken out while in
    // use, so that a turn run from a handler would build its own.
    std::vector<pollfd> fds = std::exchange(pollList_, {});
    fds.clear();
    for (auto const& [fd, watcher] : watchers_) {
        short const events =
            static_cast<short>((watcher.readable ? POLLIN : 0) | (watcher.writable ? POLLOUT : 0));
        fds.push_back(pollfd{fd, events, 0});
    }
    int ran = 0;
    if (PollFor(fds, TimeToNextTimer(maxWait)) > 0) {
        ran += DispatchReady(fds);
    }
    pollList_ = std::move(fds);
    return ran + FireDueTimers();
}

int PollEventLoop::DispatchReady(std::vector<pollfd> const& fds) {
    int ran = 0;
    for (pollfd const& ready : fds) {
        for (Interest const interest : {Interest::Readable, Interest::Writable}) {
            short const wanted = interest == Interest::Readable ? POLLIN : POLLOUT;
            if (holds_ > 0 || stopped_ || !ReadyFor(ready.revents, wanted)) {
                continue;
            }
            // An earlier handler of this turn may have unwatched the fd: look it up again, and
            // call a copy, since the handler may unwatch itself.
            auto const found = watchers_.find(ready.fd);
            if (found == watchers_.end()) {
                break;
            }
            Handler handler =
                interest == Interest::Readable ? found->second.readable : found->second.writable;
            if (handler) {
                handler();
                ++ran;
            }
        }
    }
    return ran;
}

int PollEventLoop::FireDueTimers() {
    return timers_.FireDue(now_(), [this] { return holds_ == 0 && !stopped_; });
}

std::chrono::nanoseconds PollEventLoop::TimeToNextTimer(std::chrono::milliseconds cap) const {
    std::chrono::nanoseconds const wait = std::max(cap, std::chrono::milliseconds{0});
    std::optional<Clock::time_point> const earliest = timers_.NextDue();
    if (!earliest) {
        return wait;
    }
    std::chrono::nanoseconds untilDue = *earliest - now_();
    if (untilDue > 2 * kLastStretch) {
        untilDue -= kLastStretch;
    }
    return std::clamp(untilDue, std::chrono::nanoseconds{0}, wait);
}

}  // namespace qm::net
