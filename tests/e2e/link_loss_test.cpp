// A connection that breaks while the updater answers ends the run at once with "connection lost",
// long before any timer could; a server that falls silent ends it at the stall limit; and only one
// updater works in a directory at a time.
#include <gtest/gtest.h>
#include <signal.h>

#include <functional>

#include "support/crc32.h"
#include "support/lines.h"
#include "support/random_bytes.h"
#include "support/scripted_run.h"

namespace qm::test {
namespace {

// Far below the 120-second stall limit that rules without TIMEOUT.
constexpr Millis kPromptEnding{10000};

constexpr char kRemote[] = "files/data/file.bin";
Bytes const kNewContent = PatternBytes(5000, 17);

// The server's part up to a frame that the updater must answer. The test then resets the
// connection, so that the answer meets a connection that is gone, or leaves the server silent.
struct Scene {
    char const* name;
    std::function<::testing::AssertionResult(Conversation&)> play;
};

::testing::AssertionResult DescribeChangedFile(Conversation& talk) {
    auto const opened = talk.OpenList(1);
    return opened
               ? talk.SendDescription(1, 2, "data/file.bin", kRemote, ReferenceCrc32(kNewContent))
               : opened;
}

::testing::AssertionResult SendSecondChunk(Conversation& talk) {
    auto done = talk.OpenList(1);
    done =
        done ? talk.OfferChanged(2, "data/file.bin", kRemote, ReferenceCrc32(kNewContent)) : done;
    done = done ? talk.SendFileSize(kRemote, 5000) : done;
    done = done ? talk.SendChunk(kRemote, 0, ChunkOf(kNewContent, 0)) : done;
    return done ? talk.SendData(1, ChunkOf(kNewContent, 1)) : done;
}

TEST(ConnectionReset, WhileTheUpdaterAnswersEndsTheRunAtOnce) {
    Scene const frames[] = {
        {"the announcement",
         [](Conversation& talk) {
             if (auto login = talk.LogIn(); !login) {
                 return login;
             }
             Peers const& peers = talk.peers();
             return talk.server().Send(ServerAnnouncement(peers.server, peers.client));
         }},
        {"a file description", DescribeChangedFile},
        {"a chunk in the middle of a download", SendSecondChunk},
    };
    for (Scene const& frame : frames) {
        SCOPED_TRACE(frame.name);
        ScriptedRun run(TestAddress::ResetWhileAnswering);
        run.dir.Write("data/file.bin", "old content");
        TreeSnapshot const before = SnapshotTree(run.dir.root());
        Process& updater = run.Start();
        ASSERT_TRUE(frame.play(run.talk)) << updater.Transcript();
        run.server.ResetConnection();
        EXPECT_EQ(updater.ExitStatus(kPromptEnding), kExitNetwork) << updater.Transcript();
        EXPECT_EQ(updater.Boxes(), Lines{Box("Network error", "connection lost")});
        EXPECT_EQ(DescribeDifference(before, SnapshotTree(run.dir.root())), "");
    }
}

// ---- A silent server -------------------------------------------------------------------------

TEST(StallLimit, ASilentServerEndsTheRunWithNoResponseAndTheOldFilesKept) {
    Scene const stalls[] = {
        {"after the announcement", [](Conversation& talk) { return talk.Open(); }},
        {"during a download", SendSecondChunk},
    };
    for (Scene const& stall : stalls) {
        SCOPED_TRACE(stall.name);
        ScriptedRun run(TestAddress::Stall);
        AddUpdaterSettings(run.dir.path(), "TIMEOUT=2\n");
        run.dir.Write("data/file.bin", "old content");
        TreeSnapshot const before = SnapshotTree(run.dir.root());
        Process& updater = run.Start();
        ASSERT_TRUE(stall.play(run.talk)) << updater.Transcript();
        auto const silentFrom = Clock::now();
        EXPECT_EQ(updater.ExitStatus(kPromptEnding * 3), kExitNetwork) << updater.Transcript();
        // The limit counts from the updater's last frame, sent before the silence began here.
        EXPECT_GT(Clock::now() - silentFrom, Millis(1000)) << updater.Transcript();
        EXPECT_EQ(updater.Boxes(), Lines{Box("Network Error", "no response from the server")});
        EXPECT_EQ(DescribeDifference(before, SnapshotTree(run.dir.root())), "");
    }
}

// ---- One run per directory -------------------------------------------------------------------

TEST(RunLock, ASecondUpdaterInTheSameDirectoryTouchesNothingAndAKilledRunLeavesNoLock) {
    ScriptedRun run(TestAddress::RunLock);
    run.dir.Write("data/file.bin", "old content");
    Process& first = run.Start();
    ASSERT_TRUE(run.server.Accept());
    ASSERT_TRUE(first.WaitForLine(Status("connection succesfull"), kStepTimeout))
        << first.Transcript();
    TreeSnapshot const before = SnapshotTree(run.dir.root(), {.withTimes = true});

    Process second(UpdaterOptions(run.dir.path()));
    EXPECT_EQ(second.ExitStatus(Millis(5000)), kExitAlreadyRunning) << second.Transcript();
    EXPECT_EQ(second.Lines(),
              Lines{Box("Program exit", "Another update is running in this directory.")});
    EXPECT_EQ(second.ErrorOutput(), "");
    EXPECT_FALSE(run.server.ConnectionArrives(Millis(1500)));
    EXPECT_EQ(DescribeDifference(before, SnapshotTree(run.dir.root(), {.withTimes = true})), "");
    EXPECT_FALSE(first.PollExit()) << "the running update was disturbed\n" << first.Transcript();

    first.Signal(SIGKILL);
    EXPECT_EQ(first.ExitStatus(), 128 + SIGKILL);
    run.server.CloseConnection();
    Process third(UpdaterOptions(run.dir.path()));
    ASSERT_TRUE(run.talk.Open()) << third.Transcript();
    EXPECT_TRUE(run.talk.Complete());
    EXPECT_EQ(third.ExitStatus(), kExitClean) << third.Transcript();
}

}  // namespace
}  // namespace qm::test
