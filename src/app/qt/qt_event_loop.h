// EventLoop on Qt's own event loop, for the window front end: descriptor watches are socket
// notifiers, each timer is a single-shot QTimer, and Run spins a QEventLoop until Stop.
//
// While held, the notifiers are disabled and timers that come due are kept pending; they fire,
// in the order they came due, once the hold is released. So a nested loop (a modal message box)
// delivers none of them. After Stop nothing more is delivered.
//
// Needs a QCoreApplication (or QApplication) for its whole life, on the same thread.
#pragma once

#include <QObject>

#include <map>
#include <memory>

#include "net/event_loop.h"

class QEventLoop;
class QSocketNotifier;
class QTimer;

namespace qm::app::qt {

class QtEventLoop final : public net::EventLoop {
  public:
    QtEventLoop();
    ~QtEventLoop() override;
    QtEventLoop(QtEventLoop const&) = delete;
    QtEventLoop& operator=(QtEventLoop const&) = delete;

    void Watch(net::SocketHandle socket, Interest interest, Handler handler) override;
    void Unwatch(net::SocketHandle socket, Interest interest) override;
    TimerId StartTimer(std::chrono::milliseconds delay, Handler handler) override;
    void StopTimer(TimerId id) override;
    void Run() override;
    void Stop() override;
    bool Stopped() const override { return stopped_; }

  protected:
    void Hold() override;
    void Release() override;

  private:
    struct Watcher {
        QSocketNotifier* notifier = nullptr;  // owned through owner_
        Handler handler;
    };
    struct Timer {
        QTimer* timer = nullptr;  // owned through owner_; deleted once it fired or stopped
        Handler handler;
        unsigned long cameDue = 0;  // nonzero: came due while held, waits for the release
    };
    using WatchKey = std::pair<int, Interest>;

    bool Delivering() const { return holds_ == 0 && !stopped_; }
    void OnReady(WatchKey key);
    void OnTimeout(TimerId id);
    void ReleaseDueTimers();

    // Parent of every notifier and timer: whatever is still alive goes with the loop.
    std::unique_ptr<QObject> owner_;
    std::map<WatchKey, Watcher> watchers_;
    std::map<TimerId, Timer> timers_;
    TimerId lastTimer_ = 0;
    unsigned long dueCount_ = 0;
    QEventLoop* running_ = nullptr;
    int holds_ = 0;
    bool stopped_ = false;
};

}  // namespace qm::app::qt
