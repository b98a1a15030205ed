// The event loop of the platform (the poll loop, the message loop) on a manual clock: timers in due
// order, stopped and restarted, holds and stops from handlers. The poll loop's own tests (real
// clock, descriptors of any kind) are in poll_event_loop_test.cpp.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "net/idle_timer.h"
#include "net/timer.h"
#include "socket_helpers.h"

namespace qm::net {
namespace {

using namespace std::chrono_literals;
using testing::ManualClock;
using testing::SocketPair;
using Interest = EventLoop::Interest;

class ManualLoopTest : public ::testing::Test {
  protected:
    ManualClock clock;
    testing::PlatformLoop loop{clock.source()};
    std::vector<std::string> fired;
    Timer one{loop}, two{loop}, three{loop}, four{loop};

    void Start(Timer& timer, std::chrono::milliseconds delay, std::string name) {
        timer.Start(delay, [this, name] { fired.push_back(name); });
    }
    // Lets `time` pass and turns the loop once; the handlers it ran.
    int TurnAfter(std::chrono::milliseconds time) {
        clock.Advance(time);
        return loop.RunOnce(0ms);
    }
};

TEST_F(ManualLoopTest, TimersFireOnceInDueOrder) {
    Start(three, 30ms, "thirty");
    Start(one, 10ms, "ten");
    Start(two, 20ms, "twenty");
    Start(four, 20ms, "twenty again");  // same due time: start order

    EXPECT_EQ(TurnAfter(9ms), 0);
    EXPECT_EQ(TurnAfter(41ms), 4);
    EXPECT_EQ(fired, (std::vector<std::string>{"ten", "twenty", "twenty again", "thirty"}));

    EXPECT_EQ(TurnAfter(1000ms), 0);
    EXPECT_EQ(fired.size(), 4u);
    EXPECT_FALSE(one.running());
    EXPECT_EQ(loop.WatchCount(), 0u);
}

TEST_F(ManualLoopTest, StopRestartAndDestroy) {
    Start(one, 10ms, "stopped");
    Start(two, 10ms, "first");
    Start(two, 30ms, "replacement");
    {
        Timer gone(loop);
        Start(gone, 10ms, "destroyed");
    }
    EXPECT_TRUE(one.running());
    one.Stop();
    EXPECT_FALSE(one.running());
    EXPECT_TRUE(two.running());

    EXPECT_EQ(TurnAfter(20ms), 0);
    EXPECT_TRUE(fired.empty());
    EXPECT_EQ(TurnAfter(10ms), 1);
    EXPECT_EQ(fired, std::vector<std::string>{"replacement"});
    EXPECT_EQ(loop.WatchCount(), 0u);
}

TEST_F(ManualLoopTest, IdleTimerFiresOnlyAfterALimitWithoutActivity) {
    IdleTimer idle(loop);
    idle.Start(100ms, [this] { fired.push_back("idle"); });
    for (int step = 0; step < 5; ++step) {  // activity every 60 ms keeps it quiet
        TurnAfter(60ms);
        idle.Touch();
    }
    EXPECT_TRUE(fired.empty());
    EXPECT_TRUE(idle.running());
    TurnAfter(99ms);
    EXPECT_TRUE(fired.empty());
    TurnAfter(1ms);
    EXPECT_EQ(fired, std::vector<std::string>{"idle"});
    EXPECT_FALSE(idle.running());

    idle.Start(50ms, [this] { fired.push_back("again"); });
    idle.Stop();
    TurnAfter(1000ms);
    EXPECT_EQ(fired.size(), 1u);
    EXPECT_EQ(loop.WatchCount(), 0u);
}

TEST_F(ManualLoopTest, HandlersManageTimersOfTheSameTurn) {
    // The first handler stops one due timer and restarts another; a timer restarted from its
    // own handler with no delay waits for the next turn instead of firing again at once.
    one.Start(5ms, [this] {
        fired.push_back("one");
        two.Stop();
        Start(three, 50ms, "three later");
        Start(one, 0ms, "one again");
    });
    Start(two, 6ms, "two");
    Start(three, 7ms, "three");
    EXPECT_EQ(TurnAfter(10ms), 1);
    EXPECT_EQ(fired, std::vector<std::string>{"one"});
    EXPECT_EQ(loop.RunOnce(0ms), 1);
    EXPECT_EQ(TurnAfter(50ms), 1);
    EXPECT_EQ(fired, (std::vector<std::string>{"one", "one again", "three later"}));
}

TEST_F(ManualLoopTest, HoldKeepsBackTimersAndWatchesUntilRelease) {
    SocketPair pair;
    ASSERT_TRUE(qm::test::SendAll(pair.theirs, std::vector<std::uint8_t>{'x'}));
    int readable = 0;
    loop.Watch(testing::Socket(pair.ours), Interest::Readable, [&] {
        ++readable;
        testing::DrainAll(pair.ours.get());  // what it was woken for: it is not ready again
    });
    Start(one, 10ms, "timer");

    {
        ModalHold const outer(loop);
        {
            ModalHold const inner(loop);  // holds nest
            EXPECT_EQ(TurnAfter(20ms), 0);
        }
        EXPECT_EQ(loop.RunOnce(0ms), 0);
        EXPECT_EQ(readable, 0);
        EXPECT_TRUE(fired.empty());
    }
    EXPECT_EQ(loop.RunOnce(0ms), 2);
    EXPECT_EQ(readable, 1);
    EXPECT_EQ(fired, std::vector<std::string>{"timer"});
}

TEST_F(ManualLoopTest, HoldFromAHandlerStopsTheRestOfTheTurn) {
    std::optional<ModalHold> hold;
    one.Start(1ms, [&] {
        fired.push_back("holder");
        hold.emplace(loop);
    });
    Start(two, 2ms, "held back");
    EXPECT_EQ(TurnAfter(5ms), 1);
    hold.reset();
    EXPECT_EQ(loop.RunOnce(0ms), 1);
    EXPECT_EQ(fired, (std::vector<std::string>{"holder", "held back"}));
}

TEST_F(ManualLoopTest, StopFromAHandlerEndsRunAfterThatHandler) {
    one.Start(0ms, [this] {
        fired.push_back("stopper");
        loop.Stop();
    });
    Start(two, 0ms, "after stop");
    {
        qm::test::Watchdog const watchdog(10);
        loop.Run();
    }
    EXPECT_TRUE(loop.Stopped());
    EXPECT_EQ(fired, std::vector<std::string>{"stopper"});
    EXPECT_TRUE(two.running());
}

}  // namespace
}  // namespace qm::net
