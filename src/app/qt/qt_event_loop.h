// EventLoop on Qt's own event loop, for the window front end: descriptor watches are socket
// notifiers, each numbered timer is a single-shot QTimer, and Run spins a QEventLoop until Stop.
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

    void Watch(int fd, Interest interest, Handler handler) override;
    void Unwatch(int fd, Interest interest) override;
    void StartTimer(int id, std::chrono::milliseconds delay, Handler handler) override;
    void StopTimer(int id) override;
    bool TimerRunning(int id) const override;
    void Hold(bool held) override;
    void Run() override;
    void Stop() override;
    bool Stopped() const override { return stopped_; }

  private:
    struct Watcher {
        QSocketNotifier* notifier = nullptr;  // owned through owner_
        Handler handler;
    };
    struct Timer {
        QTimer* timer = nullptr;    // owned through owner_; kept for the loop's whole life
        Handler handler;            // empty when the timer is not running
        unsigned long cameDue = 0;  // nonzero: came due while held, waits for the release
    };
    using WatchKey = std::pair<int, Interest>;

    bool Delivering() const { return !held_ && !stopped_; }
    void OnReady(WatchKey key);
    void OnTimeout(int id);
    Timer& TimerFor(int id);
    void ReleaseDueTimers();

    // Parent of every notifier and timer: whatever is still alive goes with the loop.
    std::unique_ptr<QObject> owner_;
    std::map<WatchKey, Watcher> watchers_;
    std::map<int, Timer> timers_;
    unsigned long dueCount_ = 0;
    QEventLoop* running_ = nullptr;
    bool held_ = false;
    bool stopped_ = false;
};

}  // namespace qm::app::qt
