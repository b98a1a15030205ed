// The single-threaded event loop that drives a run: file descriptor watches, numbered one-shot
// timers, and a way to stop. Every handler runs on the loop's thread, one at a time.
//
// Front ends may bring their own implementation (a toolkit's loop); the poll(2) one is in
// poll_event_loop.h.
#pragma once

#include <chrono>
#include <functional>

namespace qm::net {

class EventLoop {
  public:
    using Handler = std::function<void()>;
    enum class Interest { Readable, Writable };

    virtual ~EventLoop() = default;

    // Calls `handler` whenever `fd` is ready for `interest`, until Unwatch. Watching the same fd
    // and interest again replaces the handler. Error and hang-up conditions count as readable and
    // as writable, so the handler sees them through its own read or write.
    virtual void Watch(int fd, Interest interest, Handler handler) = 0;
    virtual void Unwatch(int fd, Interest interest) = 0;
    // Unwatch both interests; called before an fd is closed.
    void Forget(int fd) {
        Unwatch(fd, Interest::Readable);
        Unwatch(fd, Interest::Writable);
    }

    // One-shot timer `id`: `handler` runs once, `delay` from now. Starting a running timer
    // restarts it with the new delay and handler.
    virtual void StartTimer(int id, std::chrono::milliseconds delay, Handler handler) = 0;
    virtual void StopTimer(int id) = 0;
    virtual bool TimerRunning(int id) const = 0;

    // While held, no watch handler and no timer runs; timers that come due meanwhile fire after
    // release. Used while a modal message box is open.
    virtual void Hold(bool held) = 0;

    // Runs until Stop. Stop takes effect when the handler that called it returns.
    virtual void Run() = 0;
    virtual void Stop() = 0;
    virtual bool Stopped() const = 0;
};

}  // namespace qm::net
