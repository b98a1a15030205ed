// Turning the platform's event loop in a test: bounded, a short wait at a time.
#pragma once

#include <chrono>
#include <functional>

#include "platform_loop.h"

namespace qm::test {

// Turns the loop, waiting at most 10 ms a turn, until `done` holds or `limit` has passed; tells
// whether `done` holds.
inline bool RunUntil(PlatformLoop& loop, std::function<bool()> const& done,
                     std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    auto const deadline = std::chrono::steady_clock::now() + limit;
    while (!done() && std::chrono::steady_clock::now() < deadline) {
        loop.RunOnce(std::chrono::milliseconds(10));
    }
    return done();
}

// A time source that moves only when told.
struct ManualClock {
    PlatformLoop::Clock::time_point now{std::chrono::hours(1)};
    PlatformLoop::TimeSource source() {
        return [this] { return now; };
    }
    void Advance(std::chrono::milliseconds by) { now += by; }
};

}  // namespace qm::test
