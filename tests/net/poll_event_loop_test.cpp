// The poll loop on the real clock, with a socket pair and pipes to watch: what is its own (level-
// triggered readiness, hang-ups and errors of any descriptor). The loop on a manual clock is tested
// for every platform in event_loop_test.cpp.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "net/timer.h"
#include "net/unix/poll_event_loop.h"
#include "posix_socket_helpers.h"

namespace qm::net {
namespace {

using namespace std::chrono_literals;
using testing::SocketPair;
using Interest = EventLoop::Interest;

// A loop on the real clock, and a socket pair to watch.
class PollEventLoopTest : public ::testing::Test {
  protected:
    PollEventLoop loop;
    SocketPair pair;
};

TEST_F(PollEventLoopTest, StopFromAWatchHandlerEndsRun) {
    int calls = 0;
    loop.Watch(testing::Socket(pair.ours), Interest::Writable, [&] {
        ++calls;
        loop.Stop();
    });
    qm::test::Watchdog const watchdog(10);
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
    ASSERT_EQ(::send(testing::Fd(pair.ours), "a", 1, 0), 1);
    ASSERT_EQ(::send(testing::Fd(pair.theirs), "b", 1, 0), 1);
    // Both ends are readable and writable in the same turn. Whichever reader runs first
    // forgets the other end, whose two handlers must then stay silent.
    std::vector<std::intptr_t> called;
    auto watchBoth = [&](std::intptr_t fd, std::intptr_t other) {
        loop.Watch(SocketHandle(fd), Interest::Readable, [this, &called, fd, other] {
            called.push_back(fd);
            loop.Forget(SocketHandle(other));
        });
        loop.Watch(SocketHandle(fd), Interest::Writable, [&called, fd] { called.push_back(-fd); });
    };
    watchBoth(pair.ours.get(), pair.theirs.get());
    watchBoth(pair.theirs.get(), pair.ours.get());
    EXPECT_EQ(loop.RunOnce(100ms), 2);
    ASSERT_EQ(called.size(), 2u);
    EXPECT_EQ(called[1], -called[0]);
    EXPECT_EQ(loop.WatchCount(), 2u);
}

TEST_F(PollEventLoopTest, HandlerMayUnwatchItselfAndNothingSpins) {
    std::intptr_t const fd = pair.ours.get();
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
    loop.Watch(testing::Socket(pair.ours), Interest::Writable, [&] { called.push_back("old"); });
    loop.Watch(testing::Socket(pair.ours), Interest::Writable, [&] { called.push_back("new"); });
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
