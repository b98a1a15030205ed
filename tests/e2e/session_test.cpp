// Whole runs through the file lists: checks, downloads, list switches, deletions, and the endings
// of a completed run.
#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "support/crc32.h"
#include "support/lines.h"
#include "support/random_bytes.h"
#include "support/scripted_run.h"

namespace qm::test {
namespace {

std::optional<std::string> RecordedChecksum(ClientDir const& dir, std::string_view list) {
    std::optional<std::string> const text = dir.Read("crc.ini");
    return text ? ProfileEntry(*text, "GLOBAL_CRC", list) : std::nullopt;
}

// The first list describes `localPath` as changed; `content` comes under `remote` in chunks, and
// the run completes.
::testing::AssertionResult DeliverChanged(Conversation& talk, std::string_view localPath,
                                          std::string_view remote, Bytes const& content) {
    auto done = talk.OpenList(1);
    done = done ? talk.OfferChanged(2, localPath, remote, ReferenceCrc32(content)) : done;
    done = done ? talk.SendFile(remote, content, 2) : done;
    return done ? talk.Complete() : done;
}

TEST(Session, UnchangedFileIsAcknowledgedWithItsToken) {
    ScriptedRun run(TestAddress::UnchangedFile);
    run.dir.Write("readme.txt", "hello");
    Process& updater = run.Start();
    ASSERT_TRUE(run.talk.Open());
    ASSERT_TRUE(run.talk.Begin(0x00000101));
    ASSERT_TRUE(run.talk.SendDescription(1, 0x00000102, "readme.txt", "files/readme.txt",
                                         ReferenceCrc32(ToBytes("hello"))));
    ASSERT_TRUE(run.talk.ExpectAck(0x00000102));
    EXPECT_TRUE(run.EndsCleanly());
    EXPECT_TRUE(PrintedInOrder(
        updater, {Status("connecting..."), Status("connection succesfull"),
                  Status("Update Server Detected."), Status("requesting files ..."),
                  Status("Checking files/readme.txt ..."), Status("Operation complete...")}));
    EXPECT_EQ(updater.Boxes(), Lines{Box(kSuccessCaption, kSuccessText)});
    EXPECT_TRUE(updater.LinesStartingWith("launch: ").empty());
    EXPECT_EQ(run.dir.Read("readme.txt"), "hello");
    EXPECT_EQ(run.dir.List(), (Lines{"readme.txt", "upd.ini"}));
}

TEST(Session, MissingFileWithChecksumZeroIsNotDownloaded) {
    ScriptedRun run(TestAddress::MissingFileWithZeroChecksum);
    run.Start();
    ASSERT_TRUE(run.talk.OpenList(1));
    ASSERT_TRUE(run.talk.SendDescription(1, 2, "new/empty.txt", "files/empty.txt", 0));
    ASSERT_TRUE(run.talk.ExpectAck(2));
    EXPECT_TRUE(run.EndsCleanly());
    EXPECT_FALSE(run.dir.Exists("new/empty.txt"));
}

TEST(Session, ChangedFileIsDownloadedChunkByChunk) {
    ScriptedRun run(TestAddress::ChangedFileInChunks);
    run.dir.Write("sub/dir/file.bin", "old content");
    Bytes const content = PatternBytes(5000, 7);
    std::string const remote = "files/sub/dir/file.bin";
    Process& updater = run.Start();
    // 2027, 2027 and 946 bytes, then the empty chunk.
    EXPECT_TRUE(DeliverChanged(run.talk, "sub\\dir\\file.bin", remote, content));
    EXPECT_EQ(updater.ExitStatus(), kExitClean);
    EXPECT_EQ(run.dir.ReadBytes("sub/dir/file.bin"), content);
    EXPECT_EQ(run.dir.List(), (Lines{"sub/", "sub/dir/", "sub/dir/file.bin", "upd.ini"}));
    EXPECT_EQ(
        updater.LinesStartingWith("transfer: "),
        (Lines{Transfer("0 bytes received  (0 %)"), Transfer("2027 bytes received  (40 %)"),
               Transfer("4054 bytes received  (81 %)"), Transfer("6081 bytes received  (100 %)")}));
    EXPECT_TRUE(PrintedInOrder(updater, {Status("Checking " + remote + " ..."),
                                         Status("file:" + remote + " 5000 bytes..."), Progress(40),
                                         Progress(81), Progress(100)}));
    EXPECT_EQ(updater.Boxes(), Lines{Box(kSuccessCaption, kSuccessText)});
}

TEST(Session, ChunkWithAnotherIndexIsDropped) {
    ScriptedRun run(TestAddress::ChunkOutOfOrder);
    run.dir.Write("data.bin", "old");
    Bytes const content = PatternBytes(100, 3);
    run.Start();
    ASSERT_TRUE(run.talk.OpenList(1));
    ASSERT_TRUE(run.talk.OfferChanged(2, "data.bin", "data.bin", ReferenceCrc32(content)));
    ASSERT_TRUE(run.talk.SendFileSize("data.bin", 100));
    // Chunk 1 before chunk 0: neither written nor answered.
    ASSERT_TRUE(run.talk.SendData(1, PatternBytes(50, 9)));
    ASSERT_TRUE(run.talk.SendChunk("data.bin", 0, content));
    ASSERT_TRUE(run.talk.SendData(1, {}));
    ASSERT_TRUE(run.talk.ExpectAck(2));
    EXPECT_TRUE(run.EndsCleanly());
    EXPECT_EQ(run.dir.ReadBytes("data.bin"), content);
}

// Token 5 ends the first list with `action` (2: switch, 3: repeat), naming `named` with `crc`:
// the updater records `recorded` for quillmesh.ini, nothing for `named`, and asks for `requested`,
// on which token 6 is acknowledged.
void ExpectListEnd(TestAddress address, std::uint8_t action, std::string const& named,
                   std::uint32_t crc, std::string const& requested, std::string const& recorded) {
    ScriptedRun run(address);
    run.Start();
    ASSERT_TRUE(run.talk.Open());
    ASSERT_TRUE(run.talk.SendDescription(action, 5, named, "", crc));
    ASSERT_TRUE(run.server.Expect(run.talk.ListRequestFor(requested)));
    run.talk.listName = requested;
    ASSERT_TRUE(run.talk.Begin(6));
    EXPECT_TRUE(run.EndsCleanly());
    EXPECT_EQ(RecordedChecksum(run.dir, "quillmesh.ini"), recorded);
    EXPECT_EQ(RecordedChecksum(run.dir, named), std::nullopt);
}

TEST(Session, SwitchListRecordsTheChecksumAndRequestsTheNextList) {
    ExpectListEnd(TestAddress::SwitchList, 2, "maps.ini", 0xCBF43926, "maps.ini", "3421780262");
}

TEST(Session, RepeatListRecordsTheChecksumAndRequestsTheSameList) {
    ExpectListEnd(TestAddress::RepeatList, 3, "ignored.ini", 4294967295u, "quillmesh.ini",
                  "4294967295");
}

TEST(Session, ListWithRecordedChecksumIsSkipped) {
    ScriptedRun run(TestAddress::ListSkipped);
    run.dir.Write("crc.ini", "[GLOBAL_CRC]\nquillmesh.ini=3421780262\n");
    run.Start();
    ASSERT_TRUE(run.talk.Open());
    Peers const& peers = run.talk.peers();
    // The next-list field as the server leaves it: a name, its zero, then leftovers. The request
    // for it carries all 64 bytes; the acknowledgements carry the name alone.
    std::string nextList = std::string("maps.ini") + '\0';
    nextList.resize(64, 'Z');
    ASSERT_TRUE(run.server.Send(Summary(0xCBF43926, "quillmesh.ini", nextList)));
    ASSERT_TRUE(run.server.Expect(ListRequest(peers.client, peers.server, nextList)));
    run.talk.listName = "maps.ini";
    // maps.ini has no recorded checksum: the list is walked, with the token of the detection.
    ASSERT_TRUE(run.server.Send(Summary(77, "maps.ini", "other.ini")));
    ASSERT_TRUE(run.talk.ExpectAck(0));
    ASSERT_TRUE(run.talk.Begin(9));
    EXPECT_TRUE(run.EndsCleanly());
}

// The first list deletes `path` with token 2: acknowledged, and the run ends as a success.
void ExpectDeletionDone(ScriptedRun& run, std::string_view path) {
    Process& updater = run.Start();
    ASSERT_TRUE(run.talk.OpenList(1));
    ASSERT_TRUE(run.talk.SendDescription(4, 2, path));
    ASSERT_TRUE(run.talk.ExpectAck(2));
    EXPECT_TRUE(run.EndsCleanly());
    EXPECT_EQ(updater.Boxes(), Lines{Box(kSuccessCaption, kSuccessText)});
}

TEST(Session, DeletionRemovesTheFileAndItsEmptyDirectory) {
    ScriptedRun run(TestAddress::DeleteFile);
    run.dir.Write("old/obsolete.dat", "x");
    run.dir.Write("keep/other.dat", "y");
    ExpectDeletionDone(run, "old\\obsolete.dat");
    EXPECT_EQ(run.dir.List(), (Lines{"keep/", "keep/other.dat", "upd.ini"}));
}

TEST(Session, DeletionOfAnAbsentFileCountsAsDone) {
    ScriptedRun run(TestAddress::DeleteAbsentFile);
    ExpectDeletionDone(run, "gone/missing.dat");
}

TEST(Session, SecondAnnouncementChangesNothing) {
    ScriptedRun run(TestAddress::SecondAnnouncement);
    run.Start();
    ASSERT_TRUE(run.talk.Open());
    ASSERT_TRUE(run.server.Send(ServerAnnouncement(0x00000099, run.talk.peers().client)));
    // Still addressed to the first server, and no second request for the first list.
    ASSERT_TRUE(run.talk.Begin(1));
    EXPECT_TRUE(run.EndsCleanly());
}

TEST(Session, AnnouncementOfAnotherServiceIsIgnored) {
    ScriptedRun run(TestAddress::AnnouncementWrongService);
    run.Start();
    ASSERT_TRUE(run.talk.LogIn());
    ASSERT_TRUE(run.server.Send(ServerAnnouncement(0x00000055, run.talk.peers().client, 5)));
    ASSERT_TRUE(run.talk.Announce());  // the request goes to the server of service 4
    ASSERT_TRUE(run.talk.Begin(1));
    EXPECT_TRUE(run.EndsCleanly());
}

TEST(Completion, StartsTheProgramWithUpdated) {
    ScriptedRun run(TestAddress::LaunchProgram);
    std::string const program = (run.dir.path() / "client.sh").string();
    run.dir.Write("client.sh",
                  "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"$0.args.tmp\" && mv \"$0.args.tmp\" "
                  "\"$0.args\"\n",
                  0755);
    WriteUpdaterConfig(run.dir.path(), run.server.address(), program);
    Process& updater = run.Start();
    ASSERT_TRUE(run.talk.Open());
    EXPECT_TRUE(run.EndsCleanly());
    EXPECT_TRUE(updater.Boxes().empty()) << updater.Transcript();
    EXPECT_EQ(updater.LinesStartingWith("launch: "), Lines{Launch(program + " UPDATED")});
    // The program runs on its own; give it a bounded while to leave its trace.
    for (int i = 0; i < 500 && !run.dir.Exists("client.sh.args"); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(run.dir.Read("client.sh.args"), "UPDATED\n");
}

TEST(Completion, ProgramThatCannotStartIsReported) {
    ScriptedRun run(TestAddress::ProgramCannotStart);
    std::string const program = (run.dir.path() / "no-such-program").string();
    WriteUpdaterConfig(run.dir.path(), run.server.address(), program);
    Process& updater = run.Start();
    ASSERT_TRUE(run.talk.Open());
    EXPECT_TRUE(run.talk.Complete());
    EXPECT_EQ(updater.ExitStatus(), kExitLaunchFailed);
    EXPECT_EQ(updater.Boxes(), Lines{Box("Update successfull, but cannot launch:", program)});
}

// The exit status follows the first ending (the disk error); the summary box still shows.
TEST(Completion, AnEndingBeforeTheCompletionInTheSameReadIsTheOnlyOne) {
    ScriptedRun run(TestAddress::CompletionAfterError);
    run.dir.Write("../outside.txt", "not the updater's");
    WriteUpdaterConfig(run.dir.path(), run.server.address(), "/bin/true");
    Process& updater = run.Start();
    ASSERT_TRUE(run.talk.Open());
    // A refused deletion and the completion in one read: the run has its ending already, so the
    // completion neither shows a summary nor starts the program.
    ASSERT_TRUE(run.server.Send(Joined(
        {run.talk.Description(4, 3, "../outside.txt"), Summary(0, "quillmesh.ini", "", 1)})));
    EXPECT_TRUE(run.server.ExpectClosed());
    EXPECT_EQ(updater.ExitStatus(), kExitDisk);
    Lines const boxes = updater.Boxes();
    ASSERT_EQ(boxes.size(), 1u) << updater.Transcript();
    EXPECT_TRUE(boxes[0].starts_with(BoxPrefix("Disk access error"))) << boxes[0];
    EXPECT_TRUE(updater.LinesStartingWith("launch: ").empty());
    EXPECT_TRUE(std::filesystem::exists(run.dir.root() / "outside.txt"));
}

TEST(Display, ControlCharactersFromTheServerAreNotPrinted) {
    ScriptedRun run(TestAddress::ControlCharacters);
    std::string const remote = "evil\x1b[2Jname\x07.txt";
    Bytes const content = PatternBytes(10, 1);
    Process& updater = run.Start();
    EXPECT_TRUE(DeliverChanged(run.talk, "plain.txt", remote, content));
    EXPECT_EQ(updater.ExitStatus(), kExitClean);
    std::string const output = updater.Output();
    EXPECT_EQ(output.find('\x1b'), std::string::npos);
    EXPECT_EQ(output.find('\x07'), std::string::npos);
    EXPECT_TRUE(PrintedInOrder(updater, {Status("Checking evil?[2Jname?.txt ..."),
                                         Status("file:evil?[2Jname?.txt 10 bytes...")}));
    EXPECT_EQ(run.dir.ReadBytes("plain.txt"), content);
}

TEST(ChecksumRecord, ListNameThatWouldBreakTheFileIsNotRecorded) {
    for (std::string const name : {"bad=name.ini", "bad\nname.ini"}) {
        SCOPED_TRACE(name);
        ScriptedRun run(TestAddress::UnrecordableListName);
        run.Start();
        ASSERT_TRUE(run.talk.Open());
        ASSERT_TRUE(run.talk.SendDescription(2, 5, name, "", 111));
        ASSERT_TRUE(run.server.Expect(run.talk.ListRequestFor(name)));
        run.talk.listName = name;
        ASSERT_TRUE(run.talk.SendDescription(3, 6, "", "", 222));
        ASSERT_TRUE(run.server.Expect(run.talk.ListRequestFor(name)));
        EXPECT_TRUE(run.EndsCleanly());
        std::string const record = run.dir.Read("crc.ini").value_or("");
        EXPECT_EQ(ProfileEntry(record, "GLOBAL_CRC", "quillmesh.ini"), "111");
        EXPECT_EQ(record.find("bad"), std::string::npos) << record;
        EXPECT_EQ(record.find("222"), std::string::npos) << record;
    }
}

}  // namespace
}  // namespace qm::test
