// From start-up to the login: configuration, connecting, the WELCOME, and the ways the early run
// ends.
#include <gtest/gtest.h>
#include <signal.h>

#include <thread>

#include "support/lines.h"
#include "support/scripted_run.h"

namespace qm::test {
namespace {

using std::chrono::seconds;

TEST(Configuration, MissingServerEndsTheRunBeforeAnyConnection) {
    struct Case {
        char const* name;
        std::optional<std::string> config;  // upd.ini text; none: no file
    };
    Case const cases[] = {
        {"no upd.ini", std::nullopt},
        {"no SERVER key", "[GENERAL]\nEXE=./quillmesh\n"},
        {"empty SERVER", "[GENERAL]\nSERVER=\nEXE=./quillmesh\n"},
        {"SERVER in another section", "[OTHER]\nSERVER=127.0.0.1\n"},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.name);
        ClientDir dir;
        if (c.config) {
            dir.Write("upd.ini", *c.config);
        }
        Process updater(UpdaterOptions(dir.path()));
        EXPECT_EQ(updater.ExitStatus(), kExitConfiguration) << updater.Transcript();
        EXPECT_EQ(updater.Boxes(),
                  Lines{Box("Configuration error:", "The server address is unreachable...")});
        EXPECT_TRUE(updater.LinesStartingWith("status: ").empty()) << updater.Transcript();
        EXPECT_TRUE(updater.LinesStartingWith("launch: ").empty());
    }
}

TEST(Connecting, NothingListeningEndsWithUnableToJoin) {
    ClientDir dir;
    WriteUpdaterConfig(dir.path(), LoopbackAddress(TestAddress::NothingListening));
    Process updater(UpdaterOptions(dir.path()));
    EXPECT_EQ(updater.ExitStatus(), kExitNetwork);
    EXPECT_TRUE(PrintedInOrder(
        updater, {Status("connecting..."), Box("Network error", "unable to join the server :-(")}));
    EXPECT_EQ(updater.Boxes().size(), 1u) << updater.Transcript();
}

TEST(Connecting, UnresolvableHostEndsWithUnableToConnect) {
    ClientDir dir;
    WriteUpdaterConfig(dir.path(), "unresolvable.invalid");
    Process updater(UpdaterOptions(dir.path()));
    EXPECT_EQ(updater.ExitStatus(seconds(60)), kExitNetwork);
    EXPECT_TRUE(PrintedInOrder(updater, {Status("connecting..."), Status("connection failed"),
                                         Box("Network error", "unable to connect to the server")}));
    EXPECT_EQ(updater.Boxes().size(), 1u) << updater.Transcript();
}

// The user's abort, given as a signal while the connection waits for its WELCOME.
void AbortAfterAccept(TestAddress address, int signal) {
    ScriptedRun run(address);
    Process& updater = run.Start();
    ASSERT_TRUE(run.server.Accept());
    ASSERT_TRUE(updater.WaitForLine(Status("connection succesfull"), kStepTimeout))
        << updater.Transcript();
    updater.Signal(signal);
    EXPECT_EQ(updater.ExitStatus(), kExitCancelled);
    EXPECT_EQ(updater.Boxes(), Lines{Box("Program exit", "The user has canceled the operation.")});
    EXPECT_TRUE(run.server.ExpectClosed());
}

TEST(Abort, InterruptSignalCancelsTheRun) {
    AbortAfterAccept(TestAddress::AbortAfterAccept, SIGINT);
}

TEST(Abort, TerminateSignalCancelsTheRun) {
    AbortAfterAccept(TestAddress::TerminateAfterAccept, SIGTERM);
}

TEST(Login, NoAnnouncementEndsWithNoResponse) {
    ScriptedRun run(TestAddress::NoAnnouncement);
    Process& updater = run.Start();
    ASSERT_TRUE(run.talk.LogIn());
    EXPECT_EQ(updater.ExitStatus(), kExitNetwork);
    EXPECT_EQ(updater.Boxes(), Lines{Box("Network Error", "no response from the server")});
    EXPECT_TRUE(run.server.ExpectClosed());
}

TEST(Login, InvalidWelcomeIsSilentUntilTheResponseTimer) {
    struct Case {
        char const* name;
        std::uint8_t type;
        std::size_t length;
    };
    Case const cases[] = {{"type 4", 4, 151}, {"150 bytes", 0, 150}};
    for (Case const& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedRun run(TestAddress::InvalidWelcome);
        Process& updater = run.Start();
        ASSERT_TRUE(run.server.Accept());
        ASSERT_TRUE(run.server.Send(WelcomeWith(c.type, c.length, 1, 0x0A000001)));
        // No login, no query: nothing at all until the updater gives up.
        EXPECT_TRUE(run.server.ExpectClosed(seconds(20)));
        EXPECT_EQ(updater.ExitStatus(), kExitNetwork);
        EXPECT_EQ(updater.Boxes(), Lines{Box("Network Error", "no response from the server")});
    }
}

TEST(Login, WelcomeSplitOverTwoReadsIsAccepted) {
    ScriptedRun run(TestAddress::WelcomeSplit);
    run.Start();
    ASSERT_TRUE(run.server.Accept());
    Bytes const welcome = Welcome(run.talk.peers().welcomeSender, run.talk.peers().client);
    ASSERT_TRUE(run.server.Send(std::span(welcome).first(100)));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // let the first part arrive alone
    ASSERT_TRUE(run.server.Send(std::span(welcome).subspan(100)));
    Peers const& peers = run.talk.peers();
    ASSERT_TRUE(run.server.Expect(LoginMessage(peers.client, peers.welcomeSender)));
    ASSERT_TRUE(run.server.Expect(ServerQuery(peers.client)));
    ASSERT_TRUE(run.talk.Announce());
    EXPECT_TRUE(run.EndsCleanly());
}

TEST(ConnectionLost, ServerClosesBeforeTheWelcome) {
    ScriptedRun run(TestAddress::ClosedBeforeWelcome);
    Process& updater = run.Start();
    ASSERT_TRUE(run.server.Accept());
    ASSERT_TRUE(updater.WaitForLine(Status("connection succesfull"), kStepTimeout))
        << updater.Transcript();
    run.server.CloseConnection();
    EXPECT_EQ(updater.ExitStatus(), kExitNetwork);
    EXPECT_EQ(updater.Boxes(), Lines{Box("Network error", "connection lost")});
}

TEST(ConnectionLost, ServerClosesAfterTheLogin) {
    ScriptedRun run(TestAddress::ClosedAfterLogin);
    Process& updater = run.Start();
    ASSERT_TRUE(run.talk.LogIn());
    run.server.CloseConnection();
    EXPECT_EQ(updater.ExitStatus(), kExitNetwork);
    EXPECT_EQ(updater.Boxes(), Lines{Box("Network error", "connection lost")});
}

TEST(BrokenStream, FrameLengthOutsideThreeTo2051EndsTheRun) {
    for (int length : {0x0000, 0x0001, 0x0002, 0x0804, 0xFFFF}) {
        SCOPED_TRACE(length);
        ScriptedRun run(TestAddress::FrameLengthOutOfRange);
        Process& updater = run.Start();
        ASSERT_TRUE(run.talk.Open());
        Bytes broken(40, 0x11);
        broken[0] = static_cast<std::uint8_t>(length >> 8);
        broken[1] = static_cast<std::uint8_t>(length);
        broken[2] = 4;
        ASSERT_TRUE(run.server.Send(broken));
        EXPECT_TRUE(run.server.ExpectClosed());
        EXPECT_EQ(updater.ExitStatus(), kExitNetwork);
        EXPECT_TRUE(OneBox(updater, "Network error"));
    }
}

}  // namespace
}  // namespace qm::test
