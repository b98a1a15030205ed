// The window controller's endings, driven by a manual clock and real loopback sockets.
#include "app/update_dialog.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <list>
#include <string>
#include <thread>
#include <vector>

#include "support/addresses.h"
#include "support/lines.h"
#include "support/loop_turns.h"
#include "support/posix_features.h"
#include "support/temp_dir.h"
#include "support/test_socket.h"
#include "support/wire.h"

namespace qm::app {
namespace {

using qm::test::Lines;
using qm::test::PlatformLoop;
using qm::test::TestAddress;
using qm::test::TestSocket;

using namespace std::chrono_literals;
using qm::test::TempDir;
using qm::test::WriteFile;
using update::ExitStatus;

// Records what the controller shows, in order.
class RecordingView final : public UpdateView {
  public:
    std::vector<std::string> events;
    std::function<void()> whileBoxOpen;

    void ShowStatus(std::string_view text) override { events.push_back(test::Status(text)); }
    void ShowTransfer(std::string_view text) override { events.push_back(test::Transfer(text)); }
    void SetProgress(int percent) override { events.push_back(test::Progress(percent)); }
    void ShowMessageBox(std::string_view caption, std::string_view text) override {
        events.push_back(test::Box(caption, text));
        if (whileBoxOpen) {
            whileBoxOpen();
        }
    }
    void ShowLaunch(std::string_view line) override { events.push_back(test::Launch(line)); }

    std::vector<std::string> Boxes() const {
        std::vector<std::string> boxes;
        std::copy_if(events.begin(), events.end(), std::back_inserter(boxes),
                     [](std::string const& event) { return event.starts_with("box: "); });
        return boxes;
    }
    bool Saw(std::string const& event) const {
        return std::find(events.begin(), events.end(), event) != events.end();
    }
};

// The platform's loop, which can be told to go on delivering after a close was asked for: a
// toolkit's loop may still deliver what was due, and the controller must not depend on it not doing
// so.
class TestLoop final : public net::EventLoop {
  public:
    explicit TestLoop(PlatformLoop::TimeSource now) : platform_(std::move(now)) {}

    void Watch(net::SocketHandle socket, Interest interest, Handler handler) override {
        platform_.Watch(socket, interest, std::move(handler));
    }
    void Unwatch(net::SocketHandle socket, Interest interest) override {
        platform_.Unwatch(socket, interest);
    }
    TimerId StartTimer(std::chrono::milliseconds delay, Handler handler) override {
        return platform_.StartTimer(delay, std::move(handler));
    }
    void StopTimer(TimerId id) override { platform_.StopTimer(id); }
    Clock::time_point Now() const override { return platform_.Now(); }
    void Run() override { platform_.Run(); }
    void Stop() override {
        if (!goesOnAfterStop) {
            platform_.Stop();
        }
    }
    bool Stopped() const override { return platform_.Stopped(); }

    PlatformLoop& platform() { return platform_; }
    bool goesOnAfterStop = false;

  private:
    void Hold() override { holds_.emplace_back(platform_); }
    void Release() override { holds_.pop_back(); }

    PlatformLoop platform_;
    std::list<net::ModalHold> holds_;
};

class UpdateDialogTest : public ::testing::Test {
  protected:
    UpdateDialogTest()
        : loop_([this] { return now_; }), layer_(loop_), dialog_(loop_, layer_, view_) {}

    void Configure(std::string const& contents) { WriteFile("upd.ini", contents); }
    // The settings of a run against `server`'s address.
    static std::string ServerAt(TestAddress server) {
        return "[GENERAL]\nSERVER=" + qm::test::LoopbackAddress(server) + "\n";
    }
    // Opens on upd.ini naming `server` (and `more` settings), and lets the one-second timer start
    // the connect.
    void OpenAndConnect(std::string const& server, std::string const& more = "") {
        Configure("[GENERAL]\nSERVER=" + server + "\n" + more);
        dialog_.OnOpen();
        Advance(1000ms);
    }

    void Advance(std::chrono::milliseconds step) {
        now_ += step;
        loop_.platform().RunOnce(0ms);
    }

    // Opens on `address`, where a server listens, and once the dialog reports the connection
    // accepts it: the server's end, not valid when the dialog did not connect.
    TestSocket OpenAndAccept(TestAddress server, std::string const& more = "") {
        std::string const address = qm::test::LoopbackAddress(server);
        TestSocket const listener = qm::test::OpenListener(address, qm::test::kPort);
        OpenAndConnect(address, more);
        if (!RunUntil([&] { return view_.Saw("status: connection succesfull"); })) {
            return TestSocket();
        }
        return qm::test::AcceptWithin(listener, 5s);
    }

    // Turns the loop with real waits on the sockets until `done`, at most ten seconds.
    bool RunUntil(std::function<bool()> const& done) {
        return qm::test::RunUntil(loop_.platform(), done, 10s);
    }

    // Sends the WELCOME (from 7, our id 9) and waits for the login and the query (298 bytes).
    bool Welcome(TestSocket const& peer) {
        std::vector<std::uint8_t> const welcome = qm::test::Welcome(7, 9);
        return welcome.size() == 151 && qm::test::SendAll(peer, welcome) &&
               RunUntil([&] { return qm::test::BytesWaiting(peer) == 298; });
    }

    TempDir dir_;
    PlatformLoop::Clock::time_point now_{};
    TestLoop loop_;
    net::SocketLayer layer_;
    RecordingView view_;
    UpdateDialog dialog_;
};

TEST_F(UpdateDialogTest, MissingServerAddressEndsBeforeAnyConnect) {
    for (std::string contents : {"", "[GENERAL]\nEXE=client\n", "[GENERAL]\nSERVER=\n",
                                 "[OTHER]\nSERVER=127.0.0.1\n", "[GENERAL]\nSERVER=  \"\" \n"}) {
        TempDir dir;
        if (!contents.empty()) {
            WriteFile("upd.ini", contents);
        }
        PlatformLoop loop([this] { return now_; });
        net::SocketLayer layer(loop);
        RecordingView view;
        UpdateDialog dialog(loop, layer, view);
        dialog.OnOpen();
        EXPECT_TRUE(dialog.closeRequested()) << contents;
        EXPECT_EQ(view.Boxes(), Lines{"box: [Configuration error:] The server address is "
                                      "unreachable..."})
            << contents;
        EXPECT_EQ(dialog.exitStatus(), ExitStatus::Configuration);
        EXPECT_EQ(layer.SelectedCount(), 0u);
    }
}

// Only a lock held by another process is another update at work; a lock that cannot be had for
// any other reason is a disk failure with the system's reason. Nothing is connected either way.
TEST_F(UpdateDialogTest, ARunLockThatCannotBeTakenEndsBeforeAnyConnect) {
    struct Case {
        bool heldElsewhere;
        std::string reason;
        std::string box;
        ExitStatus status;
    };
    Case const cases[] = {
        {true, std::strerror(EWOULDBLOCK),
         "box: [Program exit] Another update is running in this directory.",
         ExitStatus::AlreadyRunning},
        {false, std::strerror(ENOLCK),
         "box: [Disk access error] Cannot lock the directory: " +
             std::string(std::strerror(ENOLCK)),
         ExitStatus::Disk},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.box);
        WriteFile("upd.ini", ServerAt(TestAddress::DialogRunLock));
        PlatformLoop loop([this] { return now_; });
        net::SocketLayer layer(loop);
        RecordingView view;
        UpdateDialog dialog(loop, layer, view, [&](std::string const&) {
            return base::DirectoryLock::Attempt(
                base::DirectoryLock::Refusal{.heldElsewhere = c.heldElsewhere, .reason = c.reason});
        });
        dialog.OnOpen();
        EXPECT_TRUE(dialog.closeRequested());
        EXPECT_EQ(view.Boxes(), Lines{c.box});
        EXPECT_EQ(dialog.exitStatus(), c.status);
        EXPECT_EQ(layer.SelectedCount(), 0u);
    }
}

TEST_F(UpdateDialogTest, ConnectStartsOneSecondAfterOpening) {
    Configure(ServerAt(TestAddress::DialogConnectDelay));
    dialog_.OnOpen();
    EXPECT_FALSE(dialog_.closeRequested());
    EXPECT_EQ(view_.events, Lines{"progress: 0"});
    Advance(999ms);
    EXPECT_FALSE(view_.Saw("status: connecting..."));
    Advance(1ms);
    EXPECT_TRUE(view_.Saw("status: connecting..."));
    EXPECT_EQ(layer_.SelectedCount(), 1u);  // the connect under way
}

TEST_F(UpdateDialogTest, RefusedConnectEndsWithUnableToJoin) {
    OpenAndConnect(qm::test::LoopbackAddress(TestAddress::DialogRefused));
    ASSERT_TRUE(RunUntil([&] { return dialog_.closeRequested(); }));
    EXPECT_EQ(view_.Boxes(), Lines{"box: [Network error] unable to join the server :-("});
    EXPECT_EQ(dialog_.exitStatus(), ExitStatus::Network);
    EXPECT_EQ(dialog_.errorCount(), 0);
}

TEST_F(UpdateDialogTest, UnresolvableHostFailsTheConnect) {
    OpenAndConnect("no-such-host.invalid");
    EXPECT_TRUE(view_.Saw("status: connecting..."));
    // The lookup runs beside the loop; its answer ends the run. (A loop may look for the answer
    // on a short timer of its own, as the message loop does: the clock moves on meanwhile.)
    ASSERT_TRUE(RunUntil([&] {
        now_ += 20ms;
        return dialog_.closeRequested();
    }));
    EXPECT_TRUE(view_.Saw("status: connection failed"));
    EXPECT_EQ(view_.Boxes(), Lines{"box: [Network error] unable to connect to the server"});
    EXPECT_EQ(dialog_.exitStatus(), ExitStatus::Network);
}

TEST_F(UpdateDialogTest, AbortAfterConnectCancelsTheRun) {
    TestSocket const peer = OpenAndAccept(TestAddress::DialogAbort);
    ASSERT_TRUE(peer.valid());
    dialog_.Abort();
    EXPECT_EQ(view_.Boxes(), Lines{"box: [Program exit] The user has canceled the operation."});
    EXPECT_EQ(dialog_.errorCount(), 1);
    EXPECT_EQ(dialog_.exitStatus(), ExitStatus::Cancelled);
    // A second cancel after the close changes nothing.
    dialog_.Abort();
    EXPECT_EQ(view_.Boxes().size(), 1u);
}

TEST_F(UpdateDialogTest, NoAnswerAfterLoginEndsAfterFiveSeconds) {
    TestSocket const peer = OpenAndAccept(TestAddress::DialogNoAnswer);
    ASSERT_TRUE(peer.valid());
    ASSERT_TRUE(Welcome(peer));
    Advance(4999ms);
    EXPECT_FALSE(dialog_.closeRequested());
    Advance(1ms);
    EXPECT_EQ(view_.Boxes(), Lines{"box: [Network Error] no response from the server"});
    EXPECT_EQ(dialog_.exitStatus(), ExitStatus::Network);
}

TEST_F(UpdateDialogTest, TimersAreHeldWhileABoxIsOpen) {
    Configure(ServerAt(TestAddress::DialogTimersHeld));
    dialog_.OnOpen();
    bool timerRanInsideBox = false;
    view_.whileBoxOpen = [&] {
        now_ += 2000ms;
        loop_.platform().RunOnce(0ms);
        timerRanInsideBox = view_.Saw("status: connecting...");
    };
    dialog_.EndWithMessage(update::endings::DiskAccessError("test"));
    EXPECT_FALSE(timerRanInsideBox);
}

struct FinishCase {
    char const* name;
    int errors;
    std::string exe;  // empty: no EXE line
    std::vector<std::string> boxes;
    ExitStatus status;
    bool launched;
};

TEST_F(UpdateDialogTest, FinishRunEndings) {
    std::vector<FinishCase> cases = {
        {"errors counted",
         1,
         "./client.sh",
         {"box: [Upload failed] 1 errors occured during the upload process, please try again !"},
         ExitStatus::UploadFailed,
         false},
        {"program starts", 0, "./client.sh", {}, ExitStatus::Completed, true},
        {"program missing",
         0,
         "./missing-client",
         {"box: [Update successfull, but cannot launch:] ./missing-client"},
         ExitStatus::LaunchFailed,
         false},
        {"no program",
         0,
         "",
         {"box: [Update successfull.] Click \"OK\" to exit."},
         ExitStatus::Completed,
         false},
    };
    for (auto const& c : cases) {
        TempDir dir;
        if (c.launched && !test::Has(test::PosixFeature::ScriptPrograms)) {
            continue;  // the launch itself is tested with the platform's programs
        }
        WriteFile("client.sh", "#!/bin/sh\necho \"$@\" > started\n");
        test::SetMode("client.sh", 0755);
        WriteFile("upd.ini", ServerAt(TestAddress::DialogFinish) +
                                 (c.exe.empty() ? std::string() : "EXE=" + c.exe + "\n"));
        PlatformLoop loop([this] { return now_; });
        net::SocketLayer layer(loop);
        RecordingView view;
        UpdateDialog dialog(loop, layer, view);
        dialog.OnOpen();
        for (int error = 0; error < c.errors; ++error) {
            dialog.RaiseErrorCount();
        }
        dialog.FinishRun();
        EXPECT_TRUE(dialog.closeRequested()) << c.name;
        EXPECT_EQ(view.Boxes(), c.boxes) << c.name;
        EXPECT_EQ(dialog.exitStatus(), c.status) << c.name;
        EXPECT_EQ(view.Saw("launch: ./client.sh UPDATED"), c.launched) << c.name;
        if (c.launched) {
            for (int wait = 0; wait < 200 && qm::test::ReadFile("started").empty(); ++wait) {
                std::this_thread::sleep_for(10ms);
            }
            EXPECT_EQ(qm::test::ReadFile("started"), "UPDATED\n") << c.name;
        }
    }
}

TEST_F(UpdateDialogTest, FirstEndingDecidesTheExitStatus) {
    Configure(ServerAt(TestAddress::DialogFirstEnding) + "EXE=./client.sh\n");
    dialog_.OnOpen();
    dialog_.RaiseErrorCount();
    dialog_.EndWithMessage(update::endings::DiskAccessError("Cannot open the temporary file"));
    dialog_.FinishRun();  // a completion in the same read
    EXPECT_EQ(view_.Boxes(), Lines{"box: [Disk access error] Cannot open the temporary file"});
    EXPECT_FALSE(view_.Saw("launch: ./client.sh UPDATED"));
    EXPECT_EQ(dialog_.exitStatus(), ExitStatus::Disk);
    EXPECT_EQ(dialog_.errorCount(), 1);
}

// Once the run has its ending, whatever the rest of the step meets (the server gone, a send that
// fails, a timer, the cancel command that SIGTERM gives) shows no second box, counts no error and
// leaves the first ending's exit status.
enum class AfterTheEnding { LostLink, FailedSend, ResponseTimer, StallTimer, Cancel };

class EndingThen : public UpdateDialogTest, public ::testing::WithParamInterface<AfterTheEnding> {};

TEST_P(EndingThen, NothingElseEndsTheRun) {
    loop_.goesOnAfterStop = true;
    // Each case its own address: the cases run side by side.
    auto const server = static_cast<TestAddress>(static_cast<int>(TestAddress::EndingThenLostLink) +
                                                 static_cast<int>(GetParam()));
    TestSocket peer = OpenAndAccept(server, "TIMEOUT=3\n");
    ASSERT_TRUE(peer.valid());
    ASSERT_TRUE(Welcome(peer));
    if (GetParam() != AfterTheEnding::ResponseTimer) {
        std::vector<std::uint8_t> const announcement = qm::test::ServerAnnouncement(0x63, 9);
        ASSERT_TRUE(qm::test::SendAll(peer, announcement));
        ASSERT_TRUE(RunUntil([&] { return view_.Saw("status: requesting files ..."); }));
    }
    dialog_.EndWithMessage(update::endings::DiskAccessError("first"));
    switch (GetParam()) {
        case AfterTheEnding::LostLink:
            peer = TestSocket();
            EXPECT_TRUE(RunUntil([&] { return layer_.SelectedCount() == 0; }));
            break;
        case AfterTheEnding::FailedSend: {
            // A list's beginning, which the updater acknowledges, then a reset: the Ack fails.
            std::vector<std::uint8_t> const begin = qm::test::FileDescription(
                {.sender = 0x77, .destination = 9, .action = 0, .fileToken = 1});
            ASSERT_TRUE(qm::test::SendAll(peer, begin));
            qm::test::ResetOnClose(peer);
            peer = TestSocket();
            EXPECT_TRUE(RunUntil([&] { return layer_.SelectedCount() == 0; }));
            break;
        }
        case AfterTheEnding::ResponseTimer:
            Advance(5000ms);
            break;
        case AfterTheEnding::StallTimer:
            Advance(3000ms);
            Advance(3000ms);
            break;
        case AfterTheEnding::Cancel:
            dialog_.Abort();
            break;
    }
    EXPECT_EQ(view_.Boxes(), Lines{"box: [Disk access error] first"});
    EXPECT_EQ(dialog_.exitStatus(), ExitStatus::Disk);
    EXPECT_EQ(dialog_.errorCount(), 0);
}

std::string NameOf(::testing::TestParamInfo<AfterTheEnding> const& info) {
    char const* const names[] = {"LostLink", "FailedSend", "ResponseTimer", "StallTimer", "Cancel"};
    return names[static_cast<int>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(UpdateDialog, EndingThen,
                         ::testing::Values(AfterTheEnding::LostLink, AfterTheEnding::FailedSend,
                                           AfterTheEnding::ResponseTimer,
                                           AfterTheEnding::StallTimer, AfterTheEnding::Cancel),
                         NameOf);

}  // namespace
}  // namespace qm::app
