// The updater is stopped from outside while it downloads. SIGTERM and SIGINT are a cancel: the run
// ends with "Program exit" and status 5, the old file intact and the temporary file removed.
// SIGHUP is a cancel as well; SIGQUIT ends the process at once. Either way the old file must still
// be intact, and the next run that checks the directory removes any temporary file left behind.
#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <vector>

#include "support/addresses.h"
#include "support/conversation.h"
#include "support/crc32.h"
#include "support/lines.h"
#include "support/process.h"
#include "support/profile_text.h"
#include "support/scripted_run.h"
#include "support/scripted_server.h"
#include "support/temp_dir.h"
#include "support/tree_snapshot.h"

namespace qm::test {
namespace {

using Lines = std::vector<std::string>;

constexpr char kOld[] = "the old version, which must survive the stop\n";
std::string const kCancelled = Box("Program exit", "The user has canceled the operation.");

Bytes NewVersion() {
    Bytes bytes(3 * kChunkSize + 100);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<std::uint8_t>(i % 253);
    }
    return bytes;
}

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
    if (auto opened = talk.OpenList(1); !opened) {
        return opened;
    }
    Bytes const content = NewVersion();
    if (auto sent =
            talk.OfferChanged(2, "data/file.bin", "files/data/file.bin", ReferenceCrc32(content));
        !sent) {
        return sent;
    }
    for (std::uint32_t index = 0; index < 2; ++index) {
        auto const from = content.begin() + static_cast<std::ptrdiff_t>(index * kChunkSize);
        if (auto chunk =
                talk.SendChunk("files/data/file.bin", index, Bytes(from, from + kChunkSize));
            !chunk) {
            return chunk;
        }
    }
    return ::testing::AssertionSuccess();
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
        std::optional<Ending> const ending = updater.WaitForExit(Millis(10000));
        ASSERT_TRUE(ending);
        EXPECT_EQ(ending->status, kExitCancelled) << updater.Transcript();
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

TEST(StopSignal, UnhandledSignalsKeepTheOldFileAndTheNextRunCleansUp) {
    std::string const address = LoopbackAddress(TestAddress::OtherSignals);
    for (int signal : {SIGHUP, SIGQUIT}) {
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
            std::optional<Ending> const ending = updater.WaitForExit(Millis(10000));
            ASSERT_TRUE(ending);
            EXPECT_TRUE(ending->status == 128 + signal || ending->status == kExitCancelled)
                << ending->status;
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
        std::optional<Ending> const ending = updater.WaitForExit();
        ASSERT_TRUE(ending);
        EXPECT_EQ(ending->status, kExitClean) << updater.Transcript();
        EXPECT_EQ(dir.Read("data/file.bin"), kOld);
        EXPECT_EQ(TemporaryEntries(SnapshotTree(dir.path())), Lines{});
        EXPECT_EQ(dir.List(), (Lines{"data/", "data/file.bin", "keep.txt", "upd.ini"}));
    }
}

}  // namespace
}  // namespace qm::test
