// APPLY=run: nothing the client program uses changes before the server reports the whole run
// complete; then everything does, through a journal that a later run completes if need be.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/crc32.h"
#include "support/lines.h"
#include "support/random_bytes.h"
#include "support/scripted_run.h"

namespace qm::test {
namespace {

constexpr char kStagedA[] = ".quillmesh-staged-a.txt";
constexpr char kStagedB[] = "data/.quillmesh-staged-b.bin";
constexpr char kJournal[] = ".quillmesh-journal";
Bytes const kNewA = PatternBytes(5000, 3);
Bytes const kNewB = PatternBytes(100 * kChunkSize + 7, 4);  // large enough to be resumable

// A client directory with the old version: a.txt, data/b.bin and gone.txt, which goes.
void FurnishOld(ClientDir& dir) {
    dir.Write("a.txt", "old a\n");
    dir.Write("data/b.bin", "old b\n");
    dir.Write("gone.txt", "obsolete\n");
    AddUpdaterSettings(dir.path(), "APPLY=run\n");
}

// The walk of the first list: both files changed and downloaded, gone.txt deleted, the list's
// checksum recorded and the second list asked for.
::testing::AssertionResult WalkFirstList(Conversation& talk) {
    auto done = talk.OpenList(1);
    done = done ? talk.OfferChanged(2, "a.txt", "files/a.txt", ReferenceCrc32(kNewA)) : done;
    done = done ? talk.SendFile("files/a.txt", kNewA, 2) : done;
    done = done ? talk.OfferChanged(3, "data/b.bin", "files/b.bin", ReferenceCrc32(kNewB)) : done;
    done = done ? talk.SendFile("files/b.bin", kNewB, 3) : done;
    done = done ? talk.SendDescription(4, 4, "gone.txt") : done;
    done = done ? talk.ExpectAck(4) : done;
    done = done ? talk.SendDescription(2, 5, "next.ini", "", 777) : done;
    done = done ? talk.server().Expect(talk.ListRequestFor("next.ini")) : done;
    talk.listName = "next.ini";
    return done;
}

void ExpectOldVersion(ClientDir const& dir) {
    EXPECT_EQ(dir.Read("a.txt"), "old a\n");
    EXPECT_EQ(dir.Read("data/b.bin"), "old b\n");
    EXPECT_EQ(dir.Read("gone.txt"), "obsolete\n");
    EXPECT_FALSE(dir.Exists("crc.ini"));
}

void ExpectNewVersion(ClientDir const& dir) {
    EXPECT_EQ(dir.ReadBytes("a.txt"), kNewA);
    EXPECT_EQ(dir.ReadBytes("data/b.bin"), kNewB);
    EXPECT_FALSE(dir.Exists("gone.txt"));
    EXPECT_EQ(ProfileEntry(dir.Read("crc.ini").value_or(""), "GLOBAL_CRC", "quillmesh.ini"), "777");
    for (char const* left : {kStagedA, kStagedB, kJournal}) {
        EXPECT_FALSE(dir.Exists(left)) << left;
    }
}

TEST(WholeRun, NothingChangesBeforeTheCompletionAndEverythingAtIt) {
    ScriptedRun run(TestAddress::WholeRunCommitted);
    WriteUpdaterConfig(run.dir.path(), run.server.address(), "./client.sh");
    FurnishOld(run.dir);
    // The program notes what it finds when it starts: the new version, once committed.
    run.dir.Write("client.sh", "#!/bin/sh\ncat a.txt > seen-by-client\n", 0755);
    Process& updater = run.Start();
    ASSERT_TRUE(WalkFirstList(run.talk)) << updater.Transcript();
    ExpectOldVersion(run.dir);
    EXPECT_EQ(run.dir.ReadBytes(kStagedA), kNewA);
    EXPECT_EQ(run.dir.ReadBytes(kStagedB), kNewB);
    EXPECT_TRUE(run.EndsCleanly());
    ExpectNewVersion(run.dir);
    for (int wait = 0; wait < 200 && !run.dir.Exists("seen-by-client"); ++wait) {
        usleep(10'000);
    }
    EXPECT_EQ(run.dir.ReadBytes("seen-by-client"), kNewA);
}

// A list that the server walks again (action 3) compares with the record the run holds back.
TEST(WholeRun, ARepeatedListComparesWithTheRecordHeldBack) {
    ScriptedRun run(TestAddress::WholeRunRepeatList);
    AddUpdaterSettings(run.dir.path(), "APPLY=run\n");
    Process& updater = run.Start();
    ASSERT_TRUE(run.talk.OpenList(1)) << updater.Transcript();
    ASSERT_TRUE(run.talk.SendDescription(3, 2, "", "", 555));
    ASSERT_TRUE(run.server.Expect(run.talk.ListRequestFor("quillmesh.ini")));
    ASSERT_TRUE(run.server.Send(Summary(555, "quillmesh.ini", "next.ini")));
    EXPECT_TRUE(run.server.Expect(run.talk.ListRequestFor("next.ini"))) << updater.Transcript();
    run.talk.listName = "next.ini";
    EXPECT_TRUE(run.EndsCleanly());
    EXPECT_EQ(ProfileEntry(run.dir.Read("crc.ini").value_or(""), "GLOBAL_CRC", "quillmesh.ini"),
              "555");
}

// A run that ends before the completion changes nothing the program uses; what it staged counts
// as downloaded in the next run (an acknowledgement, no data) as long as the server announces the
// same checksum, and is discarded otherwise.
TEST(WholeRun, AnUnfinishedRunLeavesTheOldVersionAndItsStagedFilesForTheNext) {
    struct Case {
        char const* name;
        TestAddress address;
        Bytes announced;  // what the next run's server announces for a.txt
    };
    Bytes const newerA = PatternBytes(3000, 8);
    Case const cases[] = {
        {"the same version", TestAddress::WholeRunInterrupted, kNewA},
        {"a newer version", TestAddress::WholeRunStaleStaged, newerA},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedRun run(c.address);
        FurnishOld(run.dir);
        Process& first = run.Start();
        ASSERT_TRUE(WalkFirstList(run.talk)) << first.Transcript();
        run.server.CloseConnection();
        EXPECT_EQ(first.ExitStatus(), kExitNetwork) << first.Transcript();
        ExpectOldVersion(run.dir);

        Process& second = run.Start();
        ASSERT_TRUE(run.talk.OpenList(1)) << second.Transcript();
        ASSERT_TRUE(
            run.talk.SendDescription(1, 2, "a.txt", "files/a.txt", ReferenceCrc32(c.announced)));
        if (c.announced == kNewA) {
            ASSERT_TRUE(run.talk.ExpectAck(2)) << "a staged file costs one round trip";
        } else {
            ASSERT_TRUE(run.talk.ExpectDownloadRequest("files/a.txt"));
            ASSERT_TRUE(run.talk.SendFile("files/a.txt", c.announced, 2));
        }
        ASSERT_TRUE(
            run.talk.SendDescription(1, 3, "data/b.bin", "files/b.bin", ReferenceCrc32(kNewB)));
        ASSERT_TRUE(run.talk.ExpectAck(3));
        ASSERT_TRUE(run.talk.SendDescription(4, 4, "gone.txt"));
        ASSERT_TRUE(run.talk.ExpectAck(4));
        ASSERT_TRUE(run.talk.SendDescription(2, 5, "next.ini", "", 777));
        ASSERT_TRUE(run.server.Expect(run.talk.ListRequestFor("next.ini")));
        run.talk.listName = "next.ini";
        EXPECT_TRUE(run.EndsCleanly());
        EXPECT_EQ(run.dir.ReadBytes("a.txt"), c.announced);
        EXPECT_EQ(run.dir.ReadBytes("data/b.bin"), kNewB);
        EXPECT_FALSE(run.dir.Exists("gone.txt"));
        EXPECT_FALSE(run.dir.Exists(kStagedA));
    }
}

// A commit that fails half way keeps its journal and ends with a disk failure; the next run
// completes it before it connects, also when the server cannot be reached.
TEST(WholeRun, ACommitThatFailsHalfWayIsCompletedByTheNextRunBeforeItConnects) {
    constexpr uid_t kNobody = 65534;
    ScriptedRun run(TestAddress::WholeRunJournal);
    FurnishOld(run.dir);
    // The updater runs as nobody; the client directory is nobody's but for the directory that
    // holds gone.txt, which it can read but not change.
    run.dir.Write("locked/gone.txt", "obsolete\n");
    std::filesystem::remove(run.dir.path() / "gone.txt");
    for (auto const& entry : std::filesystem::recursive_directory_iterator(run.dir.path())) {
        ASSERT_EQ(::chown(entry.path().c_str(), kNobody, kNobody), 0);
    }
    ASSERT_EQ(::chown(run.dir.path().c_str(), kNobody, kNobody), 0);
    ASSERT_EQ(::chown((run.dir.path() / "locked").c_str(), 0, 0), 0);
    std::filesystem::permissions(run.dir.root(), std::filesystem::perms(0755));
    ProcessOptions options = UpdaterOptions(run.dir.path());
    options.user = kNobody;
    Process first(options);
    auto walked = run.talk.OpenList(1);
    walked =
        walked ? run.talk.OfferChanged(2, "a.txt", "files/a.txt", ReferenceCrc32(kNewA)) : walked;
    walked = walked ? run.talk.SendFile("files/a.txt", kNewA, 2) : walked;
    walked = walked ? run.talk.SendDescription(4, 3, "locked/gone.txt") : walked;
    walked = walked ? run.talk.ExpectAck(3) : walked;
    ASSERT_TRUE(walked) << first.Transcript();
    ASSERT_TRUE(run.server.Send(Completion()));
    EXPECT_EQ(first.ExitStatus(), kExitDisk) << first.Transcript();
    EXPECT_EQ(first.Boxes(),
              Lines{Box("Disk access error", "Cannot delete the file: locked/gone.txt ...")});
    EXPECT_TRUE(run.dir.Exists(kJournal));

    // Once the directory can be changed, the next run completes the commit, then finds no server.
    ASSERT_EQ(::chown((run.dir.path() / "locked").c_str(), kNobody, kNobody), 0);
    run.server.CloseConnection();
    WriteUpdaterConfig(run.dir.path(), LoopbackAddress(TestAddress::NothingListening));
    Process second(options);
    EXPECT_EQ(second.ExitStatus(), kExitNetwork) << second.Transcript();
    EXPECT_EQ(run.dir.ReadBytes("a.txt"), kNewA);
    EXPECT_FALSE(run.dir.Exists("locked/gone.txt"));
    EXPECT_FALSE(run.dir.Exists(kJournal));
    EXPECT_FALSE(run.dir.Exists(kStagedA));
}

}  // namespace
}  // namespace qm::test
