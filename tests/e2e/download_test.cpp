// Downloads that go wrong must leave the old file as it was and no temporary file behind; those
// that go right must install exactly the announced bytes.
#include <gtest/gtest.h>

#include "e2e/virtual_release.h"
#include "support/crc32.h"
#include "support/lines.h"
#include "support/random_bytes.h"
#include "support/scripted_run.h"

namespace qm::test {
namespace {

// Logs in, begins the list and describes `localPath` as changed to `crc`; the updater asks for it.
::testing::AssertionResult StartDownload(Conversation& talk, std::string_view localPath,
                                         std::uint32_t crc, std::uint32_t token) {
    auto const opened = talk.OpenList(token - 1);
    return opened ? talk.OfferChanged(token, localPath, localPath, crc) : opened;
}

// The run ended with `status` and one box of `caption`; data.bin is as it was, alone.
void ExpectOldFileKept(ScriptedRun& run, Process& updater, int status, std::string_view caption) {
    EXPECT_EQ(updater.ExitStatus(), status);
    EXPECT_TRUE(OneBox(updater, caption));
    EXPECT_EQ(run.dir.Read("data.bin"), "old content");
    EXPECT_EQ(run.dir.List(), (Lines{"data.bin", "upd.ini"}));
}

// StartDownload, then the size `announced` and chunk 0 with `data`; the updater asks for chunk 1.
::testing::AssertionResult SendFirstChunk(Conversation& talk, std::string_view localPath,
                                          std::uint32_t crc, std::uint32_t announced,
                                          std::span<const std::uint8_t> data) {
    auto sent = StartDownload(talk, localPath, crc, 2);
    sent = sent ? talk.SendFileSize(localPath, announced) : sent;
    return sent ? talk.SendChunk(localPath, 0, data) : sent;
}

TEST(Download, ChecksumMismatchKeepsTheOldFile) {
    ScriptedRun run(TestAddress::ChecksumMismatch);
    run.dir.Write("data.bin", "old content");
    Process& updater = run.Start();
    ASSERT_TRUE(SendFirstChunk(run.talk, "data.bin", ReferenceCrc32(ToBytes("expected")), 8,
                               ToBytes("tampered")));
    ASSERT_TRUE(run.talk.SendData(1, {}));
    EXPECT_TRUE(run.server.ExpectOnlyUntilClosed({run.talk.Ack(2)}));
    ExpectOldFileKept(run, updater, kExitDisk, "Disk access error");
}

TEST(Download, ConnectionDroppedMidwayKeepsTheOldFile) {
    ScriptedRun run(TestAddress::DroppedMidDownload);
    run.dir.Write("data.bin", "old content");
    Bytes const content = PatternBytes(5000, 11);
    Process& updater = run.Start();
    ASSERT_TRUE(
        SendFirstChunk(run.talk, "data.bin", ReferenceCrc32(content), 5000, ChunkOf(content, 0)));
    run.server.CloseConnection();
    ExpectOldFileKept(run, updater, kExitNetwork, "Network error");
    EXPECT_EQ(updater.Boxes(), Lines{Box("Network error", "connection lost")});
}

TEST(Download, ChunkWhoseDataRunsPastItsFrameIsRefused) {
    ScriptedRun run(TestAddress::ChunkPastFrame);
    run.dir.Write("data.bin", "old content");
    Process& updater = run.Start();
    ASSERT_TRUE(StartDownload(run.talk, "data.bin", 0x12345678, 2));
    Peers const& peers = run.talk.peers();
    ASSERT_TRUE(run.talk.SendFileSize("data.bin", 2000));
    // A 31-byte frame whose length field claims 2000 data bytes.
    ASSERT_TRUE(run.server.Send(DataChunkClaiming(peers.fileSender, peers.client, 0, 2000, 10)));
    EXPECT_TRUE(run.server.ExpectClosed());
    ExpectOldFileKept(run, updater, kExitNetwork, "Network error");
}

TEST(Download, ReplacementKeepsThePermissionBits) {
    ScriptedRun run(TestAddress::ExecutableKeepsMode);
    run.dir.Write("bin/tool.sh", "#!/bin/sh\necho old\n", 0755);
    run.dir.Write("private.cfg", "old", 0600);
    std::string const tool = "#!/bin/sh\necho new\n";
    std::string const config = "new settings";
    run.Start();
    ASSERT_TRUE(StartDownload(run.talk, "bin/tool.sh", ReferenceCrc32(ToBytes(tool)), 2));
    ASSERT_TRUE(run.talk.SendFile("bin/tool.sh", ToBytes(tool), 2));
    ASSERT_TRUE(
        run.talk.OfferChanged(3, "private.cfg", "private.cfg", ReferenceCrc32(ToBytes(config))));
    ASSERT_TRUE(run.talk.SendFile("private.cfg", ToBytes(config), 3));
    EXPECT_TRUE(run.EndsCleanly());
    EXPECT_EQ(run.dir.Read("bin/tool.sh"), tool);
    EXPECT_EQ(run.dir.Mode("bin/tool.sh"), 0755u);
    EXPECT_EQ(run.dir.Read("private.cfg"), config);
    EXPECT_EQ(run.dir.Mode("private.cfg"), 0600u);
}

TEST(Download, EmptyDownloadInstallsAnEmptyFile) {
    ScriptedRun run(TestAddress::EmptyDownload);
    run.dir.Write("empty.txt", "something");
    Process& updater = run.Start();
    ASSERT_TRUE(StartDownload(run.talk, "empty.txt", 0, 2));  // the CRC of no bytes is 0
    ASSERT_TRUE(run.talk.SendFile("empty.txt", {}, 2));
    EXPECT_TRUE(run.EndsCleanly());
    EXPECT_EQ(run.dir.ReadBytes("empty.txt"), Bytes{});
    EXPECT_TRUE(updater.LinesStartingWith("transfer: ").empty()) << updater.Transcript();
    EXPECT_EQ(run.dir.List(), (Lines{"empty.txt", "upd.ini"}));
}

// ---- Whole releases -------------------------------------------------------------------------

std::vector<ReleaseList> SmallRelease(Bytes const& big) {
    return {
        {.name = "quillmesh.ini",
         .checksum = 0xCBF43926,
         .files = {{"data/big.bin", "release/data/big.bin", big},
                   {"readme.txt", "release/readme.txt", ToBytes("hello")}},
         .deletions = {"old.txt"}},
        {.name = "maps.ini",
         .checksum = 0x80000001,
         .files = {{"maps\\town.map", "release/maps/town.map", PatternBytes(3000, 5)}},
         .deletions = {}},
    };
}

// One run of the updater in `dir` against `lists` served on `address`; it must end cleanly, and
// the server must have seen nothing amiss.
ReleaseReport ServeOneRun(ClientDir const& dir, TestAddress address,
                          std::vector<ReleaseList> lists) {
    VirtualRelease release(LoopbackAddress(address), std::move(lists));
    release.Start();
    Process updater(UpdaterOptions(dir.path()));
    EXPECT_EQ(updater.ExitStatus(std::chrono::seconds(300)), kExitClean);
    ReleaseReport report = release.Join();
    EXPECT_EQ(report.failures, Lines{}) << updater.Transcript();
    return report;
}

TEST(Release, TwentyMebibyteFileArrivesIntact) {
    Bytes const big = PatternBytes(20u << 20, 99);
    ClientDir dir;
    WriteUpdaterConfig(dir.path(), LoopbackAddress(TestAddress::LargeFile));
    dir.Write("readme.txt", "hello");
    dir.Write("old.txt", "obsolete");
    ReleaseReport const report = ServeOneRun(dir, TestAddress::LargeFile, SmallRelease(big));
    EXPECT_TRUE(report.completed);
    EXPECT_EQ(report.downloaded, (Lines{"release/data/big.bin", "release/maps/town.map"}));
    EXPECT_EQ(report.unchanged, Lines{"release/readme.txt"});
    std::optional<Bytes> const installed = dir.ReadBytes("data/big.bin");
    ASSERT_TRUE(installed);
    EXPECT_EQ(installed->size(), big.size());
    EXPECT_TRUE(*installed == big) << "the installed bytes differ";
    EXPECT_EQ(dir.ReadBytes("maps/town.map"), PatternBytes(3000, 5));
    EXPECT_FALSE(dir.Exists("old.txt"));
    EXPECT_TRUE(TemporaryEntries(SnapshotTree(dir.path())).empty());
}

TEST(Release, SecondRunSkipsEveryRecordedList) {
    ClientDir dir;
    WriteUpdaterConfig(dir.path(), LoopbackAddress(TestAddress::ReleaseTwice));
    Bytes const small = PatternBytes(5000, 3);
    ASSERT_EQ(ServeOneRun(dir, TestAddress::ReleaseTwice, SmallRelease(small)).downloaded.size(),
              3u);
    std::string const record = dir.Read("crc.ini").value_or("");
    EXPECT_EQ(ProfileEntry(record, "GLOBAL_CRC", "quillmesh.ini"), "3421780262");
    EXPECT_EQ(ProfileEntry(record, "GLOBAL_CRC", "maps.ini"), "2147483649");

    ReleaseReport const report = ServeOneRun(dir, TestAddress::ReleaseTwice, SmallRelease(small));
    EXPECT_TRUE(report.completed);
    EXPECT_EQ(report.skippedLists, (Lines{"quillmesh.ini", "maps.ini"}));
    EXPECT_TRUE(report.downloaded.empty());
    EXPECT_EQ(dir.ReadBytes("data/big.bin"), small);
}

// Disk failures that the updater must report with their own texts, with nothing else lost.
TEST(DiskFailure, TemporaryFileThatCannotBeCreated) {
    ScriptedRun run(TestAddress::TemporaryFileCannotOpen);
    run.dir.Write("blocker", "a file where a directory should be");
    Bytes const content = PatternBytes(100, 3);
    Process& updater = run.Start();
    ASSERT_TRUE(StartDownload(run.talk, "blocker/data.bin", ReferenceCrc32(content), 2));
    ASSERT_TRUE(run.talk.SendFileSize("data.bin", 100));
    ASSERT_TRUE(run.talk.SendChunk("blocker/data.bin", 0, content));
    run.server.CloseConnection();
    EXPECT_EQ(updater.ExitStatus(), kExitDisk);
    Lines const boxes = updater.Boxes();
    ASSERT_FALSE(boxes.empty()) << updater.Transcript();
    EXPECT_EQ(boxes[0], Box("Disk access error", "Cannot open the temporary file"));
    EXPECT_EQ(run.dir.Read("blocker"), "a file where a directory should be");
}

TEST(DiskFailure, TargetOccupiedByADirectoryCannotBeReplaced) {
    ScriptedRun run(TestAddress::RenameOntoDirectory);
    run.dir.Write("occupied/keep.txt", "kept");
    Bytes const content = PatternBytes(10, 5);
    Process& updater = run.Start();
    ASSERT_TRUE(SendFirstChunk(run.talk, "occupied", ReferenceCrc32(content), 10, content));
    ASSERT_TRUE(run.talk.SendData(1, {}));
    EXPECT_TRUE(run.server.ExpectOnlyUntilClosed({run.talk.Ack(2)}));
    EXPECT_EQ(updater.ExitStatus(), kExitDisk);
    EXPECT_EQ(updater.Boxes(),
              Lines{Box("Disk access error", "Cannot rename the file: occupied ...")});
    EXPECT_EQ(run.dir.Read("occupied/keep.txt"), "kept");
    EXPECT_EQ(run.dir.List(), (Lines{"occupied/", "occupied/keep.txt", "upd.ini"}));
}

TEST(DiskFailure, DeletionThatFailsForAnotherReason) {
    ScriptedRun run(TestAddress::DeleteNonEmptyDirectory);
    run.dir.Write("plugins/old.so", "still here");
    Process& updater = run.Start();
    ASSERT_TRUE(run.talk.OpenList(1));
    ASSERT_TRUE(run.talk.SendDescription(4, 2, "plugins", "plugins", 0));
    EXPECT_TRUE(run.server.ExpectOnlyUntilClosed({run.talk.Ack(2)}));
    EXPECT_EQ(updater.ExitStatus(), kExitDisk);
    EXPECT_EQ(updater.Boxes(),
              Lines{Box("Disk access error", "Cannot delete the file: plugins ...")});
    EXPECT_EQ(run.dir.Read("plugins/old.so"), "still here");
}

// A run killed by SIGKILL cannot clean up; the next run that checks a file in that directory does.
TEST(DiskFailure, LeftoverOfAKilledRunIsRemovedByTheNextRun) {
    ScriptedRun run(TestAddress::LeftoverTemporaryFile);
    run.dir.Write("lib/core.so", "current");
    run.dir.Write("lib/.quillmesh-download-Xy12Zq", "half a download");
    Process& updater = run.Start();
    ASSERT_TRUE(run.talk.OpenList(1));
    ASSERT_TRUE(run.talk.SendDescription(1, 2, "lib/core.so", "lib/core.so",
                                         ReferenceCrc32(ToBytes("current"))));
    ASSERT_TRUE(run.talk.ExpectAck(2));
    ASSERT_TRUE(run.talk.Finish());
    EXPECT_EQ(updater.ExitStatus(), kExitClean);
    EXPECT_EQ(run.dir.List(), (Lines{"lib/", "lib/core.so", "upd.ini"}));
}

// A server must not be able to fill the disk with a file it announced as small.
TEST(Download, MoreDataThanAnnouncedIsRefused) {
    ScriptedRun run(TestAddress::MoreThanAnnounced);
    run.dir.Write("small.txt", "old");
    Bytes const content = PatternBytes(3 * kChunkSize, 9);
    Process& updater = run.Start();
    ASSERT_TRUE(
        SendFirstChunk(run.talk, "small.txt", ReferenceCrc32(content), 100, ChunkOf(content, 0)));
    run.server.CloseConnection();
    EXPECT_EQ(updater.ExitStatus(), kExitNetwork);
    Lines const boxes = updater.Boxes();
    ASSERT_FALSE(boxes.empty()) << updater.Transcript();
    EXPECT_TRUE(boxes[0].starts_with(BoxPrefix("Network error"))) << boxes[0];
    EXPECT_NE(boxes[0].find("more data than announced"), std::string::npos) << boxes[0];
    EXPECT_EQ(run.dir.Read("small.txt"), "old");
    EXPECT_EQ(run.dir.List(), (Lines{"small.txt", "upd.ini"}));
}

}  // namespace
}  // namespace qm::test
