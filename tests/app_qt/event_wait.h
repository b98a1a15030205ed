// Bounded waits that keep Qt's events flowing.
#pragma once

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <chrono>
#include <functional>

namespace qm::app::qt::test {

using Millis = std::chrono::milliseconds;
// Long enough for any single step of a healthy run, also under the sanitizers.
inline constexpr Millis kStepTimeout{15000};

// Processes events until `done` holds or `timeout` has passed; returns `done()`.
inline bool WaitUntil(std::function<bool()> const& done, Millis timeout = kStepTimeout) {
    auto const deadline = std::chrono::steady_clock::now() + timeout;
    QTimer tick;
    tick.start(10);
    while (!done() && std::chrono::steady_clock::now() < deadline) {
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return done();
}

// Lets events flow for `duration` (for checks that something does not happen).
inline void SpinFor(Millis duration) {
    auto const until = std::chrono::steady_clock::now() + duration;
    WaitUntil([until] { return std::chrono::steady_clock::now() >= until; },
              duration + Millis{1000});
}

}  // namespace qm::app::qt::test
