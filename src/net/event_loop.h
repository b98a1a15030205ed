// The single-threaded event loop that drives a run: socket watches, one-shot timers, a hold for
// modal boxes, and a way to stop. Every handler runs on the loop's thread, one at a time.
//
// Front ends may bring their own implementation (a toolkit's loop); on POSIX systems the poll(2)
// one is in unix/poll_event_loop.h, on Windows the window's message loop in
// win/message_loop.h. Code outside the loops uses Timer (timer.h) and ModalHold (below) rather
// than the raw timer and hold calls.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>

#include "net/socket_handle.h"

namespace qm::net {

class EventLoop {
  public:
    using Handler = std::function<void()>;
    using TimerId = std::uint64_t;
    using Clock = std::chrono::steady_clock;
    enum class Interest { Readable, Writable };

    virtual ~EventLoop() = default;

    // Calls `handler` whenever `socket` is ready for `interest`, until Unwatch. Watching the same
    // socket and interest again replaces the handler. Error and hang-up conditions count as
    // readable and as writable, so the handler sees them through its own read or write; so do a
    // finished connect (writable) and a connection to accept (readable).
    virtual void Watch(SocketHandle socket, Interest interest, Handler handler) = 0;
    virtual void Unwatch(SocketHandle socket, Interest interest) = 0;
    // Unwatch both interests; called before a socket is closed.
    void Forget(SocketHandle socket) {
        Unwatch(socket, Interest::Readable);
        Unwatch(socket, Interest::Writable);
    }

    // A one-shot timer: `handler` runs once, `delay` from now. Returns the timer's id, never 0.
    // Timers that come due at the same time fire in the order they were started.
    virtual TimerId StartTimer(std::chrono::milliseconds delay, Handler handler) = 0;
    // Stops a timer that has not fired yet; does nothing for one that fired or was stopped.
    virtual void StopTimer(TimerId id) = 0;
    // The clock the timers run by.
    virtual Clock::time_point Now() const { return Clock::now(); }

    // Runs until Stop. Stop takes effect when the handler that called it returns.
    virtual void Run() = 0;
    virtual void Stop() = 0;
    virtual bool Stopped() const = 0;

  protected:
    friend class ModalHold;
    // While held (holds nest), no watch handler and no timer runs; timers that come due
    // meanwhile fire after the last release.
    virtual void Hold() = 0;
    virtual void Release() = 0;
};

// Holds the loop while it lives: nothing else of the run happens while a modal box is open.
class ModalHold {
  public:
    explicit ModalHold(EventLoop& loop) : loop_(loop) { loop_.Hold(); }
    ~ModalHold() { loop_.Release(); }
    ModalHold(ModalHold const&) = delete;
    ModalHold& operator=(ModalHold const&) = delete;

  private:
    EventLoop& loop_;
};

}  // namespace qm::net
