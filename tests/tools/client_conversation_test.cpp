#include "update_server/client_conversation.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include "net/outbox.h"
#include "support/captured_stream.h"
#include "support/temp_dir.h"
#include "support/wire.h"
#include "update_server/release_loader.h"

namespace qm::server {
namespace {

namespace fs = std::filesystem;
using Frame = test::Bytes;
using test::Read32;
using test::TextAt;
using Verdict = ClientConversation::Verdict;
namespace kind = update::kind;
namespace action = update::action;

constexpr Addressing kReplies{0x00000001, 0x0A000001};

// The updater's messages, from its id to the server's, written by the tests' wire oracle.
namespace updater {
constexpr std::uint32_t kClient = kReplies.destinationId;
constexpr std::uint32_t kServer = kReplies.sourceId;
Frame Login(std::string_view networkWord) {
    return test::LoginMessage(kClient, kServer, networkWord);
}
Frame Query(std::uint8_t serviceCode) {
    return test::ServerQuery(kClient, serviceCode);
}
Frame ListRequest(std::string_view name) {
    return test::ListRequest(kClient, kServer, name);
}
Frame Ack(std::string_view listName) {
    return test::AckMessage(kClient, kServer, listName, 0);
}
Frame FileRequest(std::string_view remoteName) {
    return test::FileRequest(kClient, kServer, remoteName);
}
Frame ChunkRequest(std::uint8_t index, std::string_view remoteName) {
    return test::ChunkRequest(kClient, kServer, index, remoteName);
}
Frame EntriesRequest(std::string_view list, std::uint32_t first, std::uint32_t count) {
    return test::EntriesRequest(kClient, kServer, list, first, count);
}
Frame StreamRequest(std::uint32_t firstChunk, std::string_view remoteName) {
    return test::StreamRequest(kClient, kServer, firstChunk, remoteName);
}
}  // namespace updater

// A release on disk: root files a.txt, b.txt; data/x.bin of 5000 bytes; old.txt to delete.
class ConversationTest : public ::testing::Test {
  protected:
    ConversationTest() {
        test::WriteFile(dir_.path() / "rel/a.txt", "alpha");
        test::WriteFile(dir_.path() / "rel/b.txt", "beta");
        for (int i = 0; i < 5000; ++i) {
            chunkFile_ += static_cast<char>(i * 31 % 251);
        }
        test::WriteFile(dir_.path() / "rel/data/x.bin", chunkFile_);
        test::WriteFile(dir_.path() / "obsolete", "old.txt\n");
        auto loaded = ReleaseLoader(dir_.path() / "rel", dir_.path() / "obsolete").Load();
        EXPECT_TRUE(loaded.ok()) << loaded.reason();
        shelf_ = std::make_unique<CatalogShelf>(loaded.value());
        conversation_ =
            std::make_unique<ClientConversation>(kReplies, *shelf_, clientLog_, outbox_);
    }

    Verdict Send(Frame const& frame) { return conversation_->Handle(frame); }
    // Takes what the conversation left in its outbox, cut into frames.
    std::vector<Frame> Replies() {
        std::vector<Frame> frames;
        for (auto const frame : test::SplitFrames(outbox_.frames()).frames) {
            frames.emplace_back(frame.begin(), frame.end());
        }
        outbox_.Clear();
        return frames;
    }
    void LogIn() { ASSERT_EQ(Send(updater::Login("FENWARDIX")), Verdict::Continue); }
    // Logs in and asks for the list `name`; its summary is taken out of the outbox.
    void OpenList(std::string_view name) {
        LogIn();
        Send(updater::ListRequest(name));
        Replies();
    }
    bool Logged(std::string_view text) { return log_.text().find(text) != std::string::npos; }
    FileList const& List(std::string const& name) { return *shelf_->current()->FindList(name); }

    test::TempDir dir_;
    std::string chunkFile_;
    test::CapturedStream log_;
    ServerLog serverLog_{log_.stream()};
    ClientLog clientLog_{serverLog_, kReplies.destinationId, "test"};
    net::Outbox outbox_;
    std::unique_ptr<CatalogShelf> shelf_;
    std::unique_ptr<ClientConversation> conversation_;
};

// ---- Login and query --------------------------------------------------------------------------

TEST_F(ConversationTest, WelcomeGivesTheClientItsId) {
    conversation_->Welcome();
    auto const replies = Replies();
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].size(), 151u);
    EXPECT_EQ(replies[0][2], 0);
    EXPECT_EQ(Read32(replies[0], 3), kReplies.sourceId);
    EXPECT_EQ(Read32(replies[0], 7), kReplies.destinationId);
}

TEST_F(ConversationTest, WrongNetworkWordHangsUp) {
    EXPECT_EQ(Send(updater::Login("FENWARDIY")), Verdict::HangUp);
    EXPECT_TRUE(Replies().empty());
    EXPECT_TRUE(Logged("wrong network word 'FENWARDIY'"));
}

TEST_F(ConversationTest, AnythingBeforeTheLoginHangsUp) {
    for (Frame const& early : {updater::Query(4), updater::ListRequest("quillmesh.ini")}) {
        ClientConversation fresh(kReplies, *shelf_, clientLog_, outbox_);
        EXPECT_EQ(fresh.Handle(early), Verdict::HangUp);
    }
    EXPECT_TRUE(Replies().empty());
}

TEST_F(ConversationTest, QueryForTheUpdateServiceIsAnswered) {
    LogIn();
    EXPECT_EQ(Send(updater::Query(5)), Verdict::Continue);
    EXPECT_TRUE(Replies().empty());
    EXPECT_EQ(Send(updater::Query(4)), Verdict::Continue);
    auto const replies = Replies();
    ASSERT_EQ(replies.size(), 1u);
    // What every updater reads, then the capability block of the fast path.
    EXPECT_EQ(replies[0], test::AnnouncementWithCapabilities(
                              kReplies.sourceId, kReplies.destinationId,
                              test::kListEntriesCapability | test::kFileStreamsCapability));
}

// ---- Lists ------------------------------------------------------------------------------------

TEST_F(ConversationTest, WalkOfAListOneDescriptionPerAcknowledgement) {
    LogIn();
    FileList const& root = List("quillmesh.ini");
    Send(updater::ListRequest("quillmesh.ini"));
    auto const summary = Replies();
    ASSERT_EQ(summary.size(), 1u);
    EXPECT_EQ(summary[0][11], kind::ListSummary);
    EXPECT_EQ(Read32(summary[0], 15), root.checksum);
    EXPECT_EQ(TextAt(summary[0], 19, 64), "quillmesh.ini");
    EXPECT_EQ(TextAt(summary[0], 83, 64), "data.ini");
    EXPECT_EQ(summary[0][147], 0);

    struct Expected {
        std::uint8_t action;
        std::uint32_t token;
        std::string localPath;
        std::uint32_t checksum;
    };
    Expected const walk[] = {
        {action::Begin, 0, "", 0},
        {action::CheckFile, 1, "a.txt", root.files[0].checksum},
        {action::CheckFile, 2, "b.txt", root.files[1].checksum},
        {action::DeleteFile, 3, "old.txt", 0},
        {action::SwitchList, 4, "data.ini", root.checksum},
    };
    for (Expected const& step : walk) {
        SCOPED_TRACE(step.token);
        Send(updater::Ack("quillmesh.ini"));
        auto const replies = Replies();
        ASSERT_EQ(replies.size(), 1u);
        Frame const& description = replies[0];
        EXPECT_EQ(description.size(), 491u);
        EXPECT_EQ(description[11], kind::FileDescription);
        EXPECT_EQ(description[15], step.action);
        EXPECT_EQ(Read32(description, 19), step.token);
        EXPECT_EQ(TextAt(description, 23, 64), step.localPath);
        EXPECT_EQ(Read32(description, 487), step.checksum);
        if (step.action == action::CheckFile) {
            EXPECT_EQ(TextAt(description, 87, 400), step.localPath);
        }
    }
    EXPECT_EQ(root.files[0].checksum, 0xD0E0396Au);  // CRC-32 of "alpha"
    // A further acknowledgement has nothing left to describe.
    Send(updater::Ack("quillmesh.ini"));
    EXPECT_TRUE(Replies().empty());
    EXPECT_TRUE(Logged("list quillmesh.ini walked (2 files, 1 deletion)"));
}

TEST_F(ConversationTest, AcknowledgementForAnotherListIsIgnored) {
    OpenList("data.ini");
    EXPECT_EQ(Send(updater::Ack("quillmesh.ini")), Verdict::Continue);
    EXPECT_TRUE(Replies().empty());
    Send(updater::Ack("data.ini"));
    auto const replies = Replies();
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0][15], action::Begin);
}

TEST_F(ConversationTest, ListsTheClientAlreadyHasAreSkippedAndTheEmptyNameCompletes) {
    LogIn();
    Send(updater::ListRequest("quillmesh.ini"));
    Send(updater::ListRequest("data.ini"));
    Send(updater::ListRequest(""));
    auto const replies = Replies();
    ASSERT_EQ(replies.size(), 3u);
    EXPECT_EQ(TextAt(replies[1], 83, 64), "");  // the last list names no next one
    EXPECT_EQ(replies[1][147], 0);
    EXPECT_EQ(replies[2][147], 1);
    EXPECT_TRUE(Logged("list quillmesh.ini skipped"));
    EXPECT_TRUE(Logged("list data.ini skipped"));
    EXPECT_TRUE(Logged("all lists done"));
}

TEST_F(ConversationTest, AnUnknownListCompletesTheRun) {
    LogIn();
    Send(updater::ListRequest("nothing.ini"));
    auto const replies = Replies();
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0][147], 1);
    EXPECT_EQ(TextAt(replies[0], 19, 64), "nothing.ini");
}

// The release is published into a new directory and the link the server serves is swapped; a
// conversation that began before the rescan goes on with the release it started with, files
// included, and the next one gets the new release.
TEST_F(ConversationTest, ARescanIsSeenByTheNextConversationWhileThisOneKeepsItsRelease) {
    test::WriteFile(dir_.path() / "v1/a.txt", "alpha");
    test::WriteFile(dir_.path() / "v2/a.txt", "changed");
    fs::create_directory_symlink("v1", dir_.path() / "current");
    ReleaseLoader const loader(dir_.path() / "current", std::nullopt);
    CatalogShelf shelf(loader.Load().value());
    EXPECT_EQ(shelf.current()->root(), fs::canonical(dir_.path() / "v1"));
    ClientConversation before(kReplies, shelf, clientLog_, outbox_);
    before.Handle(updater::Login("FENWARDIX"));
    before.Handle(updater::ListRequest("quillmesh.ini"));
    std::uint32_t const oldChecksum = Read32(Replies().at(0), 15);

    fs::create_directory_symlink("v2", dir_.path() / "next");
    fs::rename(dir_.path() / "next", dir_.path() / "current");
    shelf.Replace(loader.Load().value());

    ClientConversation after(kReplies, shelf, clientLog_, outbox_);
    after.Handle(updater::Login("FENWARDIX"));
    for (ClientConversation* conversation : {&before, &after}) {
        conversation->Handle(updater::ListRequest("quillmesh.ini"));
        conversation->Handle(updater::ChunkRequest(0, "a.txt"));
    }
    auto const replies = Replies();
    ASSERT_EQ(replies.size(), 4u);
    EXPECT_EQ(Read32(replies[0], 15), oldChecksum);
    EXPECT_EQ(Frame(replies[1].begin() + 21, replies[1].end()), test::ToBytes("alpha"));
    EXPECT_NE(Read32(replies[2], 15), oldChecksum);
    EXPECT_EQ(Frame(replies[3].begin() + 21, replies[3].end()), test::ToBytes("changed"));
}

// ---- Files ------------------------------------------------------------------------------------

TEST_F(ConversationTest, FileIsServedChunkByChunkFromDisk) {
    OpenList("data.ini");
    Send(updater::FileRequest("data/x.bin"));
    auto const size = Replies();
    ASSERT_EQ(size.size(), 1u);
    EXPECT_EQ(size[0].size(), 619u);
    EXPECT_EQ(size[0][11], kind::FileSize);
    EXPECT_EQ(TextAt(size[0], 15, 600), "data/x.bin");
    EXPECT_EQ(Read32(size[0], 615), 5000u);

    std::string received;
    for (std::uint8_t index = 0; index < 4; ++index) {
        SCOPED_TRACE(int{index});
        Send(updater::ChunkRequest(index, "data/x.bin"));
        auto const replies = Replies();
        ASSERT_EQ(replies.size(), 1u);
        Frame const& chunk = replies[0];
        EXPECT_EQ(chunk[11], kind::DataChunk);
        EXPECT_EQ(Read32(chunk, 15), index);
        std::size_t const length = test::Read16(chunk, 19);
        std::size_t const expected[] = {2027, 2027, 946, 0};
        EXPECT_EQ(length, expected[index]);
        ASSERT_EQ(chunk.size(), 21 + length);
        received.append(chunk.begin() + 21, chunk.end());
    }
    EXPECT_EQ(received, chunkFile_);
    EXPECT_TRUE(Logged("sent data/x.bin (5000 bytes)"));
}

TEST_F(ConversationTest, ChunksCanBeAskedForAgainAndOutOfOrder) {
    OpenList("data.ini");
    Send(updater::ChunkRequest(2, "data/x.bin"));
    Send(updater::ChunkRequest(0, "data/x.bin"));
    Send(updater::ChunkRequest(2, "data/x.bin"));
    auto const replies = Replies();
    ASSERT_EQ(replies.size(), 3u);
    EXPECT_EQ(Frame(replies[0].begin() + 21, replies[0].end()),
              Frame(chunkFile_.begin() + 4054, chunkFile_.end()));
    EXPECT_EQ(Frame(replies[1].begin() + 21, replies[1].end()),
              Frame(chunkFile_.begin(), chunkFile_.begin() + 2027));
    EXPECT_EQ(replies[2], replies[0]);
}

TEST_F(ConversationTest, AFileThatGrewWhileOpenIsServedAtItsScannedSize) {
    OpenList("data.ini");
    Send(updater::ChunkRequest(0, "data/x.bin"));
    std::ofstream(dir_.path() / "rel/data/x.bin", std::ios::binary | std::ios::app)
        << std::string(5000, 'g');
    Send(updater::ChunkRequest(2, "data/x.bin"));
    Send(updater::ChunkRequest(3, "data/x.bin"));
    auto const replies = Replies();
    ASSERT_EQ(replies.size(), 3u);
    EXPECT_EQ(replies[1].size(), 21u + 946u);
    EXPECT_EQ(replies[2].size(), 21u);
}

// Its chunks would mix two versions; the updater would only find out at the end.
TEST_F(ConversationTest, AFileRewrittenSinceTheScanIsNotServed) {
    OpenList("data.ini");
    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // a later modification time
    test::WriteFile(dir_.path() / "rel/data/x.bin", chunkFile_);
    EXPECT_EQ(Send(updater::ChunkRequest(0, "data/x.bin")), Verdict::HangUp);
    EXPECT_TRUE(Replies().empty());
    EXPECT_TRUE(Logged("cannot read 'data/x.bin': the file changed since the release was scanned"));
}

TEST_F(ConversationTest, RequestsForFilesOutsideTheCatalogHangUp) {
    OpenList("quillmesh.ini");
    EXPECT_EQ(Send(updater::FileRequest("old.txt")), Verdict::HangUp);
    EXPECT_EQ(Send(updater::ChunkRequest(0, "../obsolete")), Verdict::HangUp);
    EXPECT_TRUE(Replies().empty());
}

TEST_F(ConversationTest, AFileThatVanishedFromDiskHangsUp) {
    OpenList("data.ini");
    fs::remove(dir_.path() / "rel/data/x.bin");
    EXPECT_EQ(Send(updater::ChunkRequest(0, "data/x.bin")), Verdict::HangUp);
    EXPECT_TRUE(Logged("cannot read 'data/x.bin'"));
}

// ---- The fast path -----------------------------------------------------------------------------

// The entries of a list, as the tests' oracle reads them: action, checksum, size, local path.
struct ReadEntry {
    std::uint8_t action;
    std::uint32_t crc;
    std::uint32_t size;
    std::string localPath;
    bool operator==(ReadEntry const&) const = default;
};
std::vector<ReadEntry> EntriesIn(Frame const& frame) {
    std::vector<ReadEntry> entries;
    std::size_t at = 23;
    for (std::uint16_t i = 0; i < test::Read16(frame, 19); ++i) {
        std::size_t const path = frame[at + 9];
        std::size_t const name = test::Read16(frame, at + 10 + path);
        entries.push_back(
            {frame[at], Read32(frame, at + 1), Read32(frame, at + 5),
             std::string(frame.begin() + static_cast<std::ptrdiff_t>(at + 10),
                         frame.begin() + static_cast<std::ptrdiff_t>(at + 10 + path))});
        at += 12 + path + name + 1 + frame[at + 12 + path + name];
    }
    EXPECT_EQ(at, frame.size());
    return entries;
}

// Entries are answered with exactly the entries asked for, the list's end last and marked; a
// request past the end gets nothing; the walk is logged as walked, not skipped.
TEST_F(ConversationTest, EntriesAreTheListsDescriptionsInOrderWithItsEndLast) {
    OpenList("quillmesh.ini");
    FileList const& root = List("quillmesh.ini");
    Send(updater::EntriesRequest("quillmesh.ini", 1, 2));
    Send(updater::EntriesRequest("quillmesh.ini", 3, 256));
    Send(updater::EntriesRequest("quillmesh.ini", 256, 256));
    EXPECT_EQ(conversation_->Produce(1 << 20), Verdict::Continue);
    auto const replies = Replies();
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(replies[0][11], kind::ListEntries);
    EXPECT_EQ(Read32(replies[0], 15), 1u);
    EXPECT_EQ(replies[0][21], 0);
    EXPECT_EQ(EntriesIn(replies[0]),
              (std::vector<ReadEntry>{{action::CheckFile, root.files[1].checksum, 4, "b.txt"},
                                      {action::DeleteFile, 0, 0, "old.txt"}}));
    EXPECT_EQ(Read32(replies[1], 15), 3u);
    EXPECT_EQ(replies[1][21], 1);
    EXPECT_EQ(EntriesIn(replies[1]),
              (std::vector<ReadEntry>{{action::SwitchList, root.checksum, 0, "data.ini"}}));
    EXPECT_FALSE(conversation_->HasMoreToSend());
    Send(updater::ListRequest("data.ini"));
    EXPECT_TRUE(Logged("list quillmesh.ini walked (2 files, 1 deletion) by entries"));
    EXPECT_FALSE(Logged("list quillmesh.ini skipped"));
}

// A stream is the file's size, its chunks from the first asked for, and the empty chunk, written
// only as the connection has room; streams follow each other in the order asked for.
TEST_F(ConversationTest, AStreamIsWrittenAsTheConnectionHasRoom) {
    OpenList("data.ini");
    Send(updater::StreamRequest(1, "data/x.bin"));
    Send(updater::StreamRequest(0, "data/x.bin"));
    EXPECT_TRUE(Replies().empty()) << "nothing before the connection has room";
    conversation_->Produce(3000);
    auto first = Replies();
    ASSERT_EQ(first.size(), 3u) << "the size, then chunks until the bound is reached";
    EXPECT_EQ(Read32(first[0], 615), 5000u);
    EXPECT_EQ(Read32(first[1], 15), 1u);
    EXPECT_EQ(Read32(first[2], 15), 2u);
    conversation_->Produce(1 << 20);
    auto rest = Replies();
    ASSERT_EQ(rest.size(), 6u);
    EXPECT_EQ(test::Read16(rest[0], 19), 0u) << "the first stream's end";
    EXPECT_EQ(rest[1][11], kind::FileSize);
    std::string second;
    for (std::size_t i = 2; i < 6; ++i) {
        EXPECT_EQ(Read32(rest[i], 15), i - 2);
        second.append(rest[i].begin() + 21, rest[i].end());
    }
    EXPECT_EQ(second, chunkFile_);
    EXPECT_FALSE(conversation_->HasMoreToSend());
    EXPECT_TRUE(Logged("sent data/x.bin (5000 bytes) as a stream"));
}

TEST_F(ConversationTest, WhatBreaksTheRulesOfTheFastPathHangsUp) {
    struct Case {
        char const* name;
        std::vector<Frame> frames;
        std::string logged;
    };
    std::vector<Frame> tooMany;
    for (std::size_t i = 0; i <= update::kMostWaitingStreams; ++i) {
        tooMany.push_back(updater::StreamRequest(0, "data/x.bin"));
    }
    Case const cases[] = {
        {"no entries asked for", {updater::EntriesRequest("data.ini", 0, 0)}, "for 0 entries"},
        {"too many entries", {updater::EntriesRequest("data.ini", 0, 1025)}, "for 1025 entries"},
        {"an unknown list", {updater::EntriesRequest("no.ini", 0, 1)}, "unknown list 'no.ini'"},
        {"an unknown file", {updater::StreamRequest(0, "old.txt")}, "unknown file 'old.txt'"},
        {"too many streams waiting", tooMany, "more than 256 stream requests waiting"},
        {"another request while a stream is waiting",
         {updater::StreamRequest(0, "data/x.bin"), updater::ChunkRequest(0, "data/x.bin")},
         "while entries or streams are under way"},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.name);
        ClientConversation fresh(kReplies, *shelf_, clientLog_, outbox_);
        fresh.Handle(updater::Login("FENWARDIX"));
        fresh.Handle(updater::ListRequest("data.ini"));
        Verdict last = Verdict::Continue;
        for (Frame const& frame : c.frames) {
            last = fresh.Handle(frame);
        }
        EXPECT_EQ(last, Verdict::HangUp);
        EXPECT_TRUE(Logged(c.logged)) << log_.text();
    }
}

}  // namespace
}  // namespace qm::server
