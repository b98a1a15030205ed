// The Qt event loop behind the window: watches, timers, holding everything back while a
// nested loop (a message box) runs, and stopping.
#include "app/qt/qt_event_loop.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "event_wait.h"
#include "net/timer.h"

namespace qm::app::qt::test {
namespace {

using namespace std::chrono_literals;
using Interest = net::EventLoop::Interest;

class Pipe {
  public:
    Pipe() { EXPECT_EQ(pipe2(ends_, O_CLOEXEC | O_NONBLOCK), 0); }
    ~Pipe() {
        close(ends_[0]);
        close(ends_[1]);
    }
    int readEnd() const { return ends_[0]; }
    void Put() { EXPECT_EQ(write(ends_[1], "x", 1), 1); }
    void Drain() {
        char bytes[16];
        while (read(ends_[0], bytes, sizeof bytes) > 0) {
        }
    }

  private:
    int ends_[2] = {-1, -1};
};

class QtEventLoopTest : public ::testing::Test {
  protected:
    QtEventLoop loop;
    std::vector<std::string> ran;
    net::Timer one{loop}, two{loop}, stopper{loop};

    // Runs the loop; a run that does not stop within the step timeout is stopped and fails.
    void RunBounded() {
        QTimer guard;
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, [this] {
            ADD_FAILURE() << "the loop did not stop";
            loop.Stop();
        });
        guard.start(static_cast<int>(kStepTimeout.count()));
        loop.Run();
    }
    // A handler that notes `what`, forgets `fd` and stops the loop.
    std::function<void()> LastHandler(std::string what, int fd) {
        return [this, what, fd] {
            ran.push_back(what);
            loop.Forget(net::SocketHandle(fd));
            loop.Stop();
        };
    }
};

TEST_F(QtEventLoopTest, AReadableWatchRunsUntilItUnwatchesItself) {
    Pipe pipe;
    pipe.Put();
    loop.Watch(net::SocketHandle(pipe.readEnd()), Interest::Readable, [&] {
        ran.push_back("readable");
        loop.Unwatch(net::SocketHandle(pipe.readEnd()), Interest::Readable);
        stopper.Start(50ms, [&] { loop.Stop(); });
    });
    RunBounded();
    // The byte is still there: only the unwatch kept the handler from running again.
    EXPECT_EQ(ran, std::vector<std::string>{"readable"});
    EXPECT_TRUE(loop.Stopped());
}

TEST_F(QtEventLoopTest, AWritableWatchSeesAConnectedSocket) {
    int sockets[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sockets), 0);
    loop.Watch(net::SocketHandle(sockets[0]), Interest::Writable,
               LastHandler("writable", sockets[0]));
    RunBounded();
    EXPECT_EQ(ran, std::vector<std::string>{"writable"});
    close(sockets[0]);
    close(sockets[1]);
}

TEST_F(QtEventLoopTest, WatchingAgainReplacesTheHandler) {
    Pipe pipe;
    pipe.Put();
    loop.Watch(net::SocketHandle(pipe.readEnd()), Interest::Readable,
               [&] { ran.push_back("first"); });
    loop.Watch(net::SocketHandle(pipe.readEnd()), Interest::Readable,
               LastHandler("second", pipe.readEnd()));
    RunBounded();
    EXPECT_EQ(ran, std::vector<std::string>{"second"});
}

TEST_F(QtEventLoopTest, TimersFireOnceInTheOrderTheyComeDue) {
    one.Start(60ms, [&] {
        ran.push_back("one");
        loop.Stop();
    });
    two.Start(10ms, [&] { ran.push_back("two"); });
    EXPECT_TRUE(one.running());
    EXPECT_TRUE(two.running());
    RunBounded();
    EXPECT_EQ(ran, (std::vector<std::string>{"two", "one"}));
    EXPECT_FALSE(one.running());
    EXPECT_FALSE(two.running());
}

TEST_F(QtEventLoopTest, RestartingATimerReplacesItAndStoppingCancelsIt) {
    one.Start(10ms, [&] { ran.push_back("replaced"); });
    one.Start(20ms, [&] { ran.push_back("restarted"); });
    two.Start(10ms, [&] { ran.push_back("stopped"); });
    two.Stop();
    EXPECT_FALSE(two.running());
    {
        net::Timer destroyed(loop);
        destroyed.Start(10ms, [&] { ran.push_back("destroyed"); });
    }
    stopper.Start(80ms, [&] { loop.Stop(); });
    RunBounded();
    EXPECT_EQ(ran, std::vector<std::string>{"restarted"});
}

TEST_F(QtEventLoopTest, ATimerHandlerMayStartItsOwnTimerAgain) {
    int count = 0;
    std::function<void()> again = [&] {
        ++count;
        if (count < 3) {
            one.Start(1ms, again);
        } else {
            loop.Stop();
        }
    };
    one.Start(1ms, again);
    RunBounded();
    EXPECT_EQ(count, 3);
}

TEST_F(QtEventLoopTest, WhileHeldANestedLoopDeliversNothingAndAllFollowsTheRelease) {
    Pipe pipe;
    loop.Watch(net::SocketHandle(pipe.readEnd()), Interest::Readable, [&] {
        ran.push_back("readable");
        pipe.Drain();
    });
    one.Start(0ms, [&] { ran.push_back("timer 1"); });
    two.Start(20ms, [&] { ran.push_back("timer 2"); });
    auto hold = std::make_unique<net::ModalHold>(loop);
    pipe.Put();
    // As a message box would: a nested loop that runs well past both timers' due times.
    QEventLoop nested;
    QTimer::singleShot(200, &nested, &QEventLoop::quit);
    nested.exec();
    EXPECT_TRUE(ran.empty());
    // Due but held back: still running until they fire.
    EXPECT_TRUE(one.running());
    EXPECT_TRUE(two.running());

    hold.reset();
    // Released timers fire from the loop, not from inside the release.
    EXPECT_TRUE(ran.empty());
    stopper.Start(100ms, [&] { loop.Stop(); });
    RunBounded();
    // Each once; the timers in the order they came due.
    ASSERT_EQ(ran.size(), 3u);
    std::vector<std::string> timers;
    std::copy_if(ran.begin(), ran.end(), std::back_inserter(timers),
                 [](std::string const& what) { return what != "readable"; });
    EXPECT_EQ(timers, (std::vector<std::string>{"timer 1", "timer 2"}));
    EXPECT_EQ(std::count(ran.begin(), ran.end(), "readable"), 1);
    loop.Forget(net::SocketHandle(pipe.readEnd()));
}

TEST_F(QtEventLoopTest, AWatchAddedWhileHeldWaitsForTheRelease) {
    Pipe pipe;
    pipe.Put();
    auto hold = std::make_unique<net::ModalHold>(loop);
    loop.Watch(net::SocketHandle(pipe.readEnd()), Interest::Readable,
               LastHandler("readable", pipe.readEnd()));
    SpinFor(100ms);
    EXPECT_TRUE(ran.empty());
    hold.reset();
    RunBounded();
    EXPECT_EQ(ran, std::vector<std::string>{"readable"});
}

TEST_F(QtEventLoopTest, StopEndsTheRunAndNothingRunsAfterIt) {
    Pipe pipe;
    one.Start(0ms, [&] {
        ran.push_back("stopping");
        pipe.Put();
        loop.Stop();
    });
    two.Start(0ms, [&] { ran.push_back("after stop"); });
    loop.Watch(net::SocketHandle(pipe.readEnd()), Interest::Readable,
               [&] { ran.push_back("readable"); });
    RunBounded();
    SpinFor(50ms);
    EXPECT_EQ(ran, std::vector<std::string>{"stopping"});
    loop.Forget(net::SocketHandle(pipe.readEnd()));
}

TEST_F(QtEventLoopTest, RunAfterStopReturnsAtOnce) {
    loop.Stop();
    one.Start(0ms, [&] { ran.push_back("timer"); });
    RunBounded();
    EXPECT_TRUE(ran.empty());
    EXPECT_TRUE(loop.Stopped());
}

}  // namespace
}  // namespace qm::app::qt::test
