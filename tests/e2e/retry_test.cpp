// RETRIES=n: a connection lost after the run's first WELCOME is made again, up to n times in a
// row, and the run goes on where it was; what a new connection cannot mend still ends the run.
#include <gtest/gtest.h>
#include <signal.h>

#include "support/crc32.h"
#include "support/lines.h"
#include "support/random_bytes.h"
#include "support/scripted_run.h"

namespace qm::test {
namespace {

constexpr char kLocal[] = "data/file.bin";
constexpr char kRemote[] = "files/data/file.bin";
// Large enough to be resumable: 101 chunks and a part.
Bytes const kContent = PatternBytes(100 * kChunkSize + 1000, 41);
std::uint32_t const kCrc = ReferenceCrc32(kContent);
auto const kLastIndex = static_cast<std::uint32_t>((kContent.size() + kChunkSize - 1) / kChunkSize);

// The description of the file and its chunks from `first` up to `end`, stop-and-wait.
::testing::AssertionResult ServeChunks(Conversation& talk, std::uint32_t first, std::uint32_t end) {
    auto done = talk.SendDescription(1, 2, kLocal, kRemote, kCrc);
    done = done ? talk.ExpectDownloadRequest(kRemote, first) : done;
    done = done ? talk.SendFileSize(kRemote, static_cast<std::uint32_t>(kContent.size())) : done;
    for (std::uint32_t index = first; done && index < std::min(end, kLastIndex); ++index) {
        done = talk.SendChunk(kRemote, index, ChunkOf(kContent, index));
    }
    if (!done || end <= kLastIndex) {
        return done;
    }
    done = talk.SendData(kLastIndex, {});
    return done ? talk.ExpectAck(2) : done;
}

bool Retried(Process const& updater, unsigned tries, unsigned of) {
    std::string const wanted = "(try " + std::to_string(tries) + " of " + std::to_string(of) + ")";
    for (std::string const& line : updater.LinesStartingWith("status: reconnecting in ")) {
        if (line.ends_with(wanted)) {
            return true;
        }
    }
    return false;
}

// A drop in the middle of a download: the updater waits, connects again, goes through the whole
// opening, and the download goes on from the first chunk it lacks. No error is counted.
TEST(Retry, ADroppedConnectionIsMadeAgainAndTheDownloadGoesOn) {
    ScriptedRun run(TestAddress::RetryResumes);
    run.dir.Write(kLocal, "old content");
    AddUpdaterSettings(run.dir.path(), "RETRIES=2\n");
    Process& updater = run.Start();
    ASSERT_TRUE(run.talk.OpenList(1)) << updater.Transcript();
    ASSERT_TRUE(ServeChunks(run.talk, 0, 40)) << updater.Transcript();
    run.server.CloseConnection();
    ASSERT_TRUE(run.talk.OpenList(1)) << updater.Transcript();
    EXPECT_TRUE(Retried(updater, 1, 2)) << updater.Transcript();
    ASSERT_TRUE(ServeChunks(run.talk, 40, kLastIndex + 1)) << updater.Transcript();
    EXPECT_TRUE(run.EndsCleanly());
    EXPECT_EQ(run.dir.ReadBytes(kLocal), kContent);
}

// A server that drops every connection soon after the opening brings the run no further: after
// the tries in a row the run ends with the ending of the last loss, one connection more than
// tries in all.
TEST(Retry, WhenTheTriesAreUsedUpTheRunEndsWithTheLastLoss) {
    ScriptedRun run(TestAddress::RetryUsedUp);
    AddUpdaterSettings(run.dir.path(), "RETRIES=2\n");
    Process& updater = run.Start();
    for (int connection = 0; connection < 3; ++connection) {
        SCOPED_TRACE(connection);
        ASSERT_TRUE(run.talk.Open()) << updater.Transcript();
        run.server.CloseConnection();
    }
    EXPECT_EQ(updater.ExitStatus(), kExitNetwork) << updater.Transcript();
    EXPECT_EQ(updater.Boxes(), Lines{Box("Network error", "connection lost")});
    EXPECT_TRUE(Retried(updater, 2, 2));
    EXPECT_FALSE(run.server.ConnectionArrives(Millis(0)));
}

// The count starts again after a connection that brought the run forward; still a run makes at
// most 4 x RETRIES + 1 connections.
TEST(Retry, ARunMakesAtMostFourTimesTheTriesAndOneConnections) {
    ScriptedRun run(TestAddress::RetryAtMostFourTimesPlusOne);
    AddUpdaterSettings(run.dir.path(), "RETRIES=1\n");
    Process& updater = run.Start();
    // Each connection gets one chunk further than the one before.
    for (std::uint32_t connection = 0; connection < 5; ++connection) {
        SCOPED_TRACE(connection);
        ASSERT_TRUE(run.talk.OpenList(1)) << updater.Transcript();
        ASSERT_TRUE(ServeChunks(run.talk, connection * 10, connection * 10 + 10))
            << updater.Transcript();
        run.server.CloseConnection();
    }
    EXPECT_EQ(updater.ExitStatus(), kExitNetwork) << updater.Transcript();
    EXPECT_FALSE(run.server.ConnectionArrives(Millis(0)));
}

// What a new connection cannot mend ends the run as before: invalid data, the first connection
// of a run, and the user's cancel while the updater waits to connect again.
TEST(Retry, NotForWhatANewConnectionCannotMend) {
    {
        SCOPED_TRACE("invalid data");
        ScriptedRun run(TestAddress::RetryNotForInvalidData);
        AddUpdaterSettings(run.dir.path(), "RETRIES=3\n");
        Process& updater = run.Start();
        ASSERT_TRUE(run.talk.Open()) << updater.Transcript();
        ASSERT_TRUE(run.server.Send(Bytes{0x08, 0x04, 0x04}));  // a length beyond any frame
        EXPECT_EQ(updater.ExitStatus(), kExitNetwork) << updater.Transcript();
        EXPECT_FALSE(run.server.ConnectionArrives(Millis(2000)));
    }
    {
        SCOPED_TRACE("the first connection");
        ClientDir dir;
        WriteUpdaterConfig(dir.path(), LoopbackAddress(TestAddress::RetryNotForTheFirstConnect));
        AddUpdaterSettings(dir.path(), "RETRIES=3\n");
        Process updater(UpdaterOptions(dir.path()));
        EXPECT_EQ(updater.ExitStatus(), kExitNetwork) << updater.Transcript();
        EXPECT_EQ(updater.Boxes(), Lines{Box("Network error", "unable to join the server :-(")});
        EXPECT_TRUE(updater.LinesStartingWith("status: reconnecting").empty());
    }
    {
        SCOPED_TRACE("cancelled while waiting");
        ScriptedRun run(TestAddress::RetryCancelledWhileWaiting);
        AddUpdaterSettings(run.dir.path(), "RETRIES=5\n");
        Process& updater = run.Start();
        ASSERT_TRUE(run.talk.Open()) << updater.Transcript();
        run.server.CloseConnection();
        ASSERT_TRUE(updater.WaitUntil(
            [](std::string const& out, std::string const&) {
                return out.find("status: reconnecting in ") != std::string::npos;
            },
            Millis(10000)));
        updater.Signal(SIGTERM);
        EXPECT_EQ(updater.ExitStatus(Millis(3000)), kExitCancelled) << updater.Transcript();
        EXPECT_EQ(updater.Boxes(),
                  Lines{Box("Program exit", "The user has canceled the operation.")});
    }
}

// A server that falls silent for longer than the stall limit is left, and met again.
TEST(Retry, AServerSilentBeyondTheStallLimitIsConnectedAgain) {
    ScriptedRun run(TestAddress::RetryAfterStall);
    AddUpdaterSettings(run.dir.path(), "RETRIES=1\nTIMEOUT=1\n");
    Process& updater = run.Start();
    ASSERT_TRUE(run.talk.OpenList(1)) << updater.Transcript();
    ASSERT_TRUE(run.server.ExpectClosed(Millis(5000))) << updater.Transcript();
    run.server.CloseConnection();
    ASSERT_TRUE(run.talk.OpenList(1)) << updater.Transcript();
    EXPECT_TRUE(run.EndsCleanly());
    EXPECT_TRUE(Retried(updater, 1, 1));
}

}  // namespace
}  // namespace qm::test
