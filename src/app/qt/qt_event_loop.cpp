#include "app/qt/qt_event_loop.h"

#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <utility>
#include <vector>

namespace qm::app::qt {
namespace {

QSocketNotifier::Type NotifierType(net::EventLoop::Interest interest) {
    return interest == net::EventLoop::Interest::Readable ? QSocketNotifier::Read
                                                          : QSocketNotifier::Write;
}

int Milliseconds(std::chrono::milliseconds delay) {
    auto const clamped = std::clamp<std::chrono::milliseconds::rep>(delay.count(), 0, 1 << 30);
    return static_cast<int>(clamped);
}

}  // namespace

QtEventLoop::QtEventLoop() : owner_(std::make_unique<QObject>()) {}

QtEventLoop::~QtEventLoop() = default;

void QtEventLoop::Watch(net::SocketHandle socket, Interest interest, Handler handler) {
    int const fd = static_cast<int>(socket.native());
    if (fd < 0) {
        return;
    }
    WatchKey const key{fd, interest};
    Watcher& watcher = watchers_[key];
    watcher.handler = std::move(handler);
    if (watcher.notifier == nullptr) {
        // Made switched off, so that it never competes with another notifier on the same
        // descriptor while the loop is held.
        watcher.notifier = new QSocketNotifier(NotifierType(interest), owner_.get());
        watcher.notifier->setSocket(fd);
        QObject::connect(watcher.notifier, &QSocketNotifier::activated, owner_.get(),
                         [this, key] { OnReady(key); });
    }
    watcher.notifier->setEnabled(holds_ == 0);
}

void QtEventLoop::Unwatch(net::SocketHandle socket, Interest interest) {
    auto const found = watchers_.find(WatchKey{static_cast<int>(socket.native()), interest});
    if (found == watchers_.end()) {
        return;
    }
    // The handler may be unwatching its own notifier, which is then still signalling: it is
    // only switched off now and deleted once control is back in the event loop.
    found->second.notifier->setEnabled(false);
    found->second.notifier->deleteLater();
    watchers_.erase(found);
}

void QtEventLoop::OnReady(WatchKey key) {
    if (!Delivering()) {
        return;
    }
    auto const found = watchers_.find(key);
    if (found == watchers_.end()) {
        return;
    }
    // A copy: the handler may unwatch or rewatch its descriptor.
    Handler handler = found->second.handler;
    if (handler) {
        handler();
    }
}

net::EventLoop::TimerId QtEventLoop::StartTimer(std::chrono::milliseconds delay, Handler handler) {
    TimerId const id = ++lastTimer_;
    Timer& slot = timers_[id];
    slot.timer = new QTimer(owner_.get());
    slot.timer->setSingleShot(true);
    slot.timer->setTimerType(Qt::PreciseTimer);
    QObject::connect(slot.timer, &QTimer::timeout, owner_.get(), [this, id] { OnTimeout(id); });
    slot.handler = handler ? std::move(handler) : Handler([] {});
    slot.timer->start(Milliseconds(delay));
    return id;
}

void QtEventLoop::StopTimer(TimerId id) {
    auto const found = timers_.find(id);
    if (found == timers_.end()) {
        return;
    }
    found->second.timer->stop();
    found->second.timer->deleteLater();
    timers_.erase(found);
}

void QtEventLoop::OnTimeout(TimerId id) {
    auto const found = timers_.find(id);
    if (found == timers_.end()) {
        return;
    }
    if (!Delivering()) {
        found->second.cameDue = ++dueCount_;
        return;
    }
    // Taken out first: the handler may start or stop timers.
    Handler handler = std::move(found->second.handler);
    found->second.timer->deleteLater();
    timers_.erase(found);
    handler();
}

void QtEventLoop::Hold() {
    ++holds_;
    for (auto& [key, watcher] : watchers_) {
        watcher.notifier->setEnabled(false);
    }
}

void QtEventLoop::Release() {
    if (--holds_ > 0) {
        return;
    }
    for (auto& [key, watcher] : watchers_) {
        watcher.notifier->setEnabled(true);
    }
    ReleaseDueTimers();
}

// Timers that came due during the hold fire from the event loop, not from inside Hold, in the
// order they came due.
void QtEventLoop::ReleaseDueTimers() {
    std::vector<std::pair<unsigned long, TimerId>> due;
    for (auto const& [id, slot] : timers_) {
        if (slot.cameDue != 0) {
            due.emplace_back(slot.cameDue, id);
        }
    }
    std::sort(due.begin(), due.end());
    for (auto const& [order, id] : due) {
        Timer& slot = timers_.at(id);
        slot.cameDue = 0;
        slot.timer->start(0);
    }
}

void QtEventLoop::Run() {
    if (stopped_) {
        return;
    }
    QEventLoop loop;
    running_ = &loop;
    loop.exec();
    running_ = nullptr;
}

void QtEventLoop::Stop() {
    stopped_ = true;
    if (running_ != nullptr) {
        running_->quit();
    }
}

}  // namespace qm::app::qt
