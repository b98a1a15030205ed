// The updater is stopped from outside while it downloads. SIGTERM and SIGINT are a cancel: the run
// ends with "Program exit" and status 5, the old file intact and the temporary file removed.
// SIGHUP is a cancel as well; SIGQUIT ends the process at once. Either way the old file must still
// be intact, and the next run that checks the directory removes any temporary file left behind.
#include <gtest/gtest.h>

#include <csignal>
#include <string>

#include "support/crc32.h"
#include "support/lines.h"
#include "support/random_bytes.h"
#include "support/scripted_run.h"

namespace qm::test {
namespace {

constexpr char kOld[] = "the old version, which must survive the stop\n";
std::string const kCancelled = Box("Program exit", "The user has canceled the operation.");

void Furnish(ClientDir const& dir) {
    dir.Write("data/file.bin", kOld);
    dir.Write("keep.txt", "untouched\n");
}

enum class Moment { BeforeConnecting, AfterLogin, MidDownload };

// Plays the server up to `moment`; at MidDownload two chunks have been written and the updater
// waits for the third, its temporary file in data/.
::testing::AssertionResult PlayUpTo(Moment moment, Conversation& talk, Process& updater) {
    if (moment == Moment::BeforeConnecting) {
        return updater.WaitForLine(Progress(0), kStepTimeout)
                   ? ::testing::AssertionSuccess()
                   : ::testing::AssertionFailure() << "no first line";
    }
    if (moment == Moment::AfterLogin) {
        return talk.LogIn();
    }
    Bytes const content = PatternBytes(3 * kChunkSize + 100, 5);
    auto done = talk.OpenList(1);
    done =
        done ? talk.OfferChanged(2, "data/file.bin", "files/data/file.bin", ReferenceCrc32(content))
             : done;
    done = done ? talk.SendChunk("files/data/file.bin", 0, ChunkOf(content, 0)) : done;
    return done ? talk.SendChunk("files/data/file.bin", 1, ChunkOf(content, 1)) : done;
}

TEST(StopSignal, TermAndIntCancelCleanlyAtEveryMoment) {
    struct Case {
        char const* name;
        int signal;
        Moment moment;
    };
    Case const cases[] = {
        {"SIGTERM before connecting", SIGTERM, Moment::BeforeConnecting},
        {"SIGINT before connecting", SIGINT, Moment::BeforeConnecting},
        {"SIGTERM after the login", SIGTERM, Moment::AfterLogin},
        {"SIGINT after the login", SIGINT, Moment::AfterLogin},
        {"SIGTERM in the middle of a download", SIGTERM, Moment::MidDownload},
        {"SIGINT in the middle of a download", SIGINT, Moment::MidDownload},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedRun run(TestAddress::StopSignals);
        ClientDir const& dir = run.dir;
        Furnish(run.dir);
        Lines const before = dir.List();
        Process& updater = run.Start();
        ASSERT_TRUE(PlayUpTo(c.moment, run.talk, updater)) << updater.Transcript();
        if (c.moment == Moment::MidDownload) {
            // The download is under way: its temporary file sits beside the target.
            ASSERT_EQ(TemporaryEntries(SnapshotTree(dir.path())).size(), 1u) << dir.List().size();
        }
        updater.Signal(c.signal);
        EXPECT_EQ(updater.ExitStatus(Millis(10000)), kExitCancelled) << updater.Transcript();
        EXPECT_EQ(updater.Boxes(), Lines{kCancelled}) << updater.Transcript();
        EXPECT_EQ(dir.Read("data/file.bin"), kOld);
        EXPECT_EQ(dir.Read("keep.txt"), "untouched\n");
        EXPECT_EQ(TemporaryEntries(SnapshotTree(dir.path())), Lines{});
        EXPECT_EQ(dir.List(), before);
        if (c.moment == Moment::BeforeConnecting) {
            EXPECT_FALSE(run.server.ConnectionArrives(Millis(1500)));
        } else {
            EXPECT_TRUE(run.server.ExpectClosed());
        }
    }
}

// SIGHUP (the terminal went away) is the cancel command too; SIGQUIT is not handled and ends the
// process. Either way the old file stays, and the next run removes what was left.
TEST(StopSignal, HangUpCancelsQuitEndsTheProcessAndTheNextRunCleansUp) {
    std::string const address = LoopbackAddress(TestAddress::OtherSignals);
    struct Case {
        int signal;
        int status;
    };
    for (Case const c : {Case{SIGHUP, kExitCancelled}, Case{SIGQUIT, 128 + SIGQUIT}}) {
        int const signal = c.signal;
        SCOPED_TRACE(signal);
        ClientDir dir;
        WriteUpdaterConfig(dir.path(), address);
        Furnish(dir);
        {
            ScriptedServer server(address);
            Conversation talk(server);
            Process updater(UpdaterOptions(dir.path()));
            ASSERT_TRUE(PlayUpTo(Moment::MidDownload, talk, updater)) << updater.Transcript();
            updater.Signal(signal);
            EXPECT_EQ(updater.ExitStatus(Millis(10000)), c.status) << updater.Transcript();
            EXPECT_EQ(dir.Read("data/file.bin"), kOld);
        }
        // The next run checks data/file.bin: the leftover goes, the old file stays.
        ScriptedServer server(address);
        Conversation talk(server);
        Process updater(UpdaterOptions(dir.path()));
        ASSERT_TRUE(talk.OpenList(1));
        ASSERT_TRUE(talk.SendDescription(1, 2, "data/file.bin", "files/data/file.bin",
                                         ReferenceCrc32(ToBytes(kOld))));
        ASSERT_TRUE(talk.ExpectAck(2));
        ASSERT_TRUE(talk.Finish());
        EXPECT_EQ(updater.ExitStatus(), kExitClean) << updater.Transcript();
        EXPECT_EQ(dir.Read("data/file.bin"), kOld);
        EXPECT_EQ(TemporaryEntries(SnapshotTree(dir.path())), Lines{});
        EXPECT_EQ(dir.List(), (Lines{"data/", "data/file.bin", "keep.txt", "upd.ini"}));
    }
}

}  // namespace
}  // namespace qm::test
