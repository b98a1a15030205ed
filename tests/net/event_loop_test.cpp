#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "net/idle_timer.h"
#include "net/timer.h"
#include "net/unix/poll_event_loop.h"
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
    PollEventLoop loop{clock.source()};
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
    ASSERT_EQ(::send(pair.far.get(), "x", 1, 0), 1);
    int readable = 0;
    loop.Watch(testing::Socket(pair.near), Interest::Readable, [&] { ++readable; });
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
        testing::Watchdog watchdog(10);
        loop.Run();
    }
    EXPECT_TRUE(loop.Stopped());
    EXPECT_EQ(fired, std::vector<std::string>{"stopper"});
    EXPECT_TRUE(two.running());
}

// A loop on the real clock, and a socket pair to watch.
class PollEventLoopTest : public ::testing::Test {
  protected:
    PollEventLoop loop;
    SocketPair pair;
};

TEST_F(PollEventLoopTest, StopFromAWatchHandlerEndsRun) {
    int calls = 0;
    loop.Watch(testing::Socket(pair.near), Interest::Writable, [&] {
        ++calls;
        loop.Stop();
    });
    testing::Watchdog watchdog(10);
    loop.Run();
    EXPECT_EQ(calls, 1);
}

TEST_F(PollEventLoopTest, RealClockTimerFires) {
    bool fired = false;
    Timer timer(loop);
    timer.Start(5ms, [&] { fired = true; });
    EXPECT_TRUE(testing::RunUntil(loop, [&] { return fired; }));
}

TEST_F(PollEventLoopTest, UnwatchFromAnotherHandlerPreventsItsCall) {
    ASSERT_EQ(::send(pair.near.get(), "a", 1, 0), 1);
    ASSERT_EQ(::send(pair.far.get(), "b", 1, 0), 1);
    // Both ends are readable and writable in the same turn. Whichever reader runs first
    // forgets the other end, whose two handlers must then stay silent.
    std::vector<int> called;
    auto watchBoth = [&](int fd, int other) {
        loop.Watch(SocketHandle(fd), Interest::Readable, [this, &called, fd, other] {
            called.push_back(fd);
            loop.Forget(SocketHandle(other));
        });
        loop.Watch(SocketHandle(fd), Interest::Writable, [&called, fd] { called.push_back(-fd); });
    };
    watchBoth(pair.near.get(), pair.far.get());
    watchBoth(pair.far.get(), pair.near.get());
    EXPECT_EQ(loop.RunOnce(100ms), 2);
    ASSERT_EQ(called.size(), 2u);
    EXPECT_EQ(called[1], -called[0]);
    EXPECT_EQ(loop.WatchCount(), 2u);
}

TEST_F(PollEventLoopTest, HandlerMayUnwatchItselfAndNothingSpins) {
    int const fd = pair.near.get();
    int calls = 0;
    loop.Watch(SocketHandle(fd), Interest::Writable, [&] {
        ++calls;
        loop.Unwatch(SocketHandle(fd), Interest::Writable);
    });
    EXPECT_EQ(loop.RunOnce(100ms), 1);
    EXPECT_EQ(loop.WatchCount(), 0u);
    for (int turn = 0; turn < 5; ++turn) {
        EXPECT_EQ(loop.RunOnce(0ms), 0);
    }
    EXPECT_EQ(calls, 1);
}

TEST_F(PollEventLoopTest, WatchingAgainReplacesTheHandler) {
    std::vector<std::string> called;
    loop.Watch(testing::Socket(pair.near), Interest::Writable, [&] { called.push_back("old"); });
    loop.Watch(testing::Socket(pair.near), Interest::Writable, [&] { called.push_back("new"); });
    EXPECT_EQ(loop.WatchCount(), 1u);
    loop.RunOnce(100ms);
    EXPECT_EQ(called, std::vector<std::string>{"new"});
}

TEST_F(PollEventLoopTest, ErrorsAndHangUpsWakeBothInterests) {
    // A pipe's write end whose reader is gone reports an error, which must reach a handler
    // that only watches for reading; the read end of a pipe whose writer is gone reports a
    // hang-up, which must reach a handler that only watches for writing.
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    testing::UniqueFd readEnd(fds[0]);
    testing::UniqueFd writeEnd(fds[1]);
    int writeEndWoken = 0;
    int readEndWoken = 0;
    loop.Watch(testing::Socket(writeEnd), Interest::Readable, [&] { ++writeEndWoken; });
    loop.Watch(testing::Socket(readEnd), Interest::Writable, [&] { ++readEndWoken; });
    EXPECT_EQ(loop.RunOnce(0ms), 0);

    readEnd.Reset();
    loop.Unwatch(SocketHandle(fds[0]), Interest::Writable);
    EXPECT_EQ(loop.RunOnce(100ms), 1);
    EXPECT_EQ(writeEndWoken, 1);

    ASSERT_EQ(::pipe(fds), 0);
    readEnd = testing::UniqueFd(fds[0]);
    testing::UniqueFd secondWriter(fds[1]);
    loop.Forget(testing::Socket(writeEnd));
    loop.Watch(testing::Socket(readEnd), Interest::Writable, [&] { ++readEndWoken; });
    EXPECT_EQ(loop.RunOnce(0ms), 0);
    secondWriter.Reset();
    EXPECT_EQ(loop.RunOnce(100ms), 1);
    EXPECT_EQ(readEndWoken, 1);
}

}  // namespace
}  // namespace qm::net
