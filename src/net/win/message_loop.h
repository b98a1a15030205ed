// The event loop of Windows: the thread's window message loop. Sockets report to a window of the
// loop's own (a message-only window) through WSAAsyncSelect, one window message per socket
// registration, so that a message that was posted for a socket since closed (whose handle a new
// socket may have got) is recognised and dropped. Timers are one window timer, set for the
// earliest due; one that is due already comes with a message of its own in the next turn. While the
// loop is held (a message box runs its own message loop over this one), socket messages and due
// timers wait and are delivered after the last release.
//
// The update window, when there is one, is a modeless dialog run by this loop (SetDialog), so
// that Tab, Enter and Escape work in it as in any dialog.
#pragma once

#include <windows.h>

#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <vector>

#include "net/event_loop.h"
#include "net/timer_queue.h"

namespace qm::net {

class MessageLoop final : public EventLoop {
  public:
    using TimeSource = std::function<Clock::time_point()>;

    // `now`, the clock the timers run by, defaults to the steady clock; tests move their own.
    explicit MessageLoop(TimeSource now = {});
    ~MessageLoop() override;
    MessageLoop(MessageLoop const&) = delete;
    MessageLoop& operator=(MessageLoop const&) = delete;

    void Watch(SocketHandle socket, Interest interest, Handler handler) override;
    void Unwatch(SocketHandle socket, Interest interest) override;
    TimerId StartTimer(std::chrono::milliseconds delay, Handler handler) override;
    void StopTimer(TimerId id) override;
    Clock::time_point Now() const override { return now_(); }
    void Run() override;
    void Stop() override;
    bool Stopped() const override { return stopped_; }

    // The dialog whose keyboard messages the loop hands to IsDialogMessage; none with nullptr.
    void SetDialog(HWND dialog) { dialog_ = dialog; }

    // Runs `handler` on the loop's thread, soon; the one call that may come from any thread (a
    // console's Ctrl-C arrives on a thread of its own). Held like the rest while a box is open.
    void Post(Handler handler);

    // Number of watched (socket, interest) pairs and running timers; for tests.
    std::size_t WatchCount() const;

    // The window that receives the loop's messages.
    HWND window() const { return window_; }

    // One turn of the loop, for tests: waits at most `maxWait` (less when a timer comes due
    // earlier by the time source) for a message, handles every message that is waiting, then
    // runs the timers that are due by the time source. Returns the number of handlers run. With
    // a manual time source, RunOnce(0ms) after moving the clock fires the timers that are due.
    int RunOnce(std::chrono::milliseconds maxWait);

  protected:
    void Hold() override { ++holds_; }
    void Release() override;

  private:
    struct Registration {
        UINT message = 0;
        Handler readable;
        Handler writable;
    };
    struct Deferred {
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
    };

    static LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam,
                                            LPARAM lParam);
    LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
    void OnSocketMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void OnTimerMessage();
    void RunPosted();
    bool Held() const { return holds_ > 0 || stopped_; }
    void Select(SocketHandle socket, Registration const& registration);
    UINT NextSocketMessage();
    void ArmTimer();
    void Dispatch(MSG const& message);

    TimeSource now_;
    HWND window_ = nullptr;
    HWND dialog_ = nullptr;
    std::map<SocketHandle, Registration> sockets_;
    std::map<UINT, SocketHandle> byMessage_;
    UINT lastSocketMessage_ = 0;
    TimerQueue timers_;
    std::vector<Deferred> deferred_;
    std::mutex postedLock_;
    std::deque<Handler> posted_;  // guarded by postedLock_
    bool duePosted_ = false;      // a kTimerDueMessage is on its way
    int holds_ = 0;
    int ran_ = 0;
    bool stopped_ = false;
};

}  // namespace qm::net
