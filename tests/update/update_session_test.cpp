// The session driven directly, without a socket: events and frames in, frames and window
// operations out.
#include "update/update_session.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "checksum/checksum.h"
#include "support/temp_dir.h"
#include "support/wire.h"
#include "update/recording_window.h"

namespace qm::update {
namespace {

using base::AsBytes;
using Frames = std::vector<std::vector<std::uint8_t>>;

constexpr Address kFromServer{0x00000001, 0x0A000001};

class UpdateSessionTest : public ::testing::Test {
  protected:
    // What the session left to send, frame by frame; taken away as the connection would.
    Frames Sent() {
        Bytes const pending = session.outgoing();
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(pending.data()) % 64, 0u);
        Frames frames;
        for (auto const frame : test::SplitFrames(pending).frames) {
            frames.emplace_back(frame.begin(), frame.end());
        }
        session.ClearOutgoing();
        return frames;
    }

    // Hands `message` to `to` as one frame.
    template <typename Message>
    static void Deliver(UpdateSession& to, Message const& message) {
        base::ByteBuffer frame;
        Append(frame, message);
        to.HandleMessage(frame);
    }
    template <typename Message>
    void Receive(Message const& message) {
        Deliver(session, message);
    }

    // Logged in and the update server announced.
    void Open() {
        session.OnConnected();
        session.OnHandshakeBegun();
        session.OnWelcome(LinkIds{0x0A000001, 0x00000100});
        Frames const login = Sent();
        ASSERT_EQ(login.size(), 2u);
        EXPECT_EQ(login[0].size(), 279u);
        EXPECT_EQ(login[1].size(), 19u);
        EXPECT_TRUE(window.timerRunning);
        Receive(ServerAnnouncement{kFromServer, kUpdateService});
        EXPECT_FALSE(window.timerRunning);
        ASSERT_EQ(Sent().size(), 1u);  // the request for the first list
    }

    test::TempDir dir;
    RecordingWindow window;
    UpdateSession session{window};
};

TEST_F(UpdateSessionTest, DownloadsAChangedFileAndFinishes) {
    Open();
    std::string const content(5000, 'x');
    auto const crc = checksum::Crc32(AsBytes(content));
    Receive(FileDescription{kFromServer, action::Begin, 0, {}, AsBytes("a.ini"), 0});
    ASSERT_EQ(Sent().size(), 1u);  // acknowledged
    Receive(FileDescription{kFromServer, action::CheckFile, 1, AsBytes("data/a.bin"),
                            AsBytes("data/a.bin"), crc});
    Frames request = Sent();
    ASSERT_EQ(request.size(), 2u);  // the file, and its chunk 0
    EXPECT_EQ(request[0].size(), 415u);
    EXPECT_EQ(request[1].size(), 419u);
    Receive(FileSize{kFromServer, AsBytes("data/a.bin"), 5000});
    for (std::uint32_t index = 0; index < 3; ++index) {
        Receive(DataChunk{kFromServer, index, test::ChunkOf(AsBytes(content), index)});
        ASSERT_EQ(Sent().size(), 1u);  // the next chunk
    }
    Receive(DataChunk{kFromServer, 3, {}});
    ASSERT_EQ(Sent().size(), 1u);  // acknowledged
    EXPECT_EQ(test::ReadFile("data/a.bin"), content);
    EXPECT_EQ(
        window.transfers,
        (std::vector<std::string>{"0 bytes received  (0 %)", "2027 bytes received  (40 %)",
                                  "4054 bytes received  (81 %)", "6081 bytes received  (100 %)"}));
    Receive(ListSummary{kFromServer, 0, {}, {}, 1});
    EXPECT_EQ(window.finished, 1);
    EXPECT_TRUE(window.boxes.empty());
}

// A deletion in the same directory while a file waits for its data (the server's answers come
// behind the walk of the list): the file already gone, its directory left empty, the download
// still finds a directory to be written in.
TEST_F(UpdateSessionTest, ADeletionBesideAWaitingDownloadLeavesItADirectory) {
    Open();
    std::string const content(3000, 'y');
    Receive(FileDescription{kFromServer, action::CheckFile, 1, AsBytes("data/maps/a.map"),
                            AsBytes("data/maps/a.map"), checksum::Crc32(AsBytes(content))});
    ASSERT_EQ(Sent().size(), 2u);  // the file, and its chunk 0
    Receive(FileDescription{kFromServer, action::DeleteFile, 2, AsBytes("data/maps/old.dat"),
                            AsBytes("data/maps/old.dat"), 0});
    Sent();
    Receive(FileSize{kFromServer, AsBytes("data/maps/a.map"), 3000});
    for (std::uint32_t index = 0; index < 2; ++index) {
        Receive(DataChunk{kFromServer, index, test::ChunkOf(AsBytes(content), index)});
    }
    Receive(DataChunk{kFromServer, 2, {}});
    ASSERT_TRUE(window.boxes.empty()) << window.boxes[0].text;
    EXPECT_TRUE(test::ReadFile("data/maps/a.map") == content);
}

// The connection sends the next request before the chunk is written, so the writing overlaps the
// server's answer; a write that fails still ends the run.
TEST_F(UpdateSessionTest, TheNextChunkIsAskedForBeforeThisOneIsWritten) {
    Open();
    Receive(FileDescription{kFromServer, action::CheckFile, 1, AsBytes("d.bin"), AsBytes("d.bin"),
                            0x12345678});
    Sent();
    Receive(FileSize{kFromServer, AsBytes("d.bin"), 10});
    std::vector<std::uint32_t> sentEarly;
    std::size_t boxesWhenSent = 99;
    session.SetEarlySend([&] {
        for (auto const& frame : Sent()) {
            sentEarly.push_back(test::Read32(frame, 15));
        }
        boxesWhenSent = window.boxes.size();
    });
    Receive(DataChunk{kFromServer, 0, AsBytes("twenty bytes, not 10")});
    EXPECT_EQ(sentEarly, std::vector<std::uint32_t>{1});
    EXPECT_EQ(boxesWhenSent, 0u);
    ASSERT_EQ(window.boxes.size(), 1u);
    EXPECT_EQ(window.boxes[0].text, "The server sent more data than announced for d.bin ...");
    EXPECT_TRUE(Sent().empty());
    EXPECT_TRUE(std::filesystem::is_empty("."));
}

// However often the loss is reported (a failed send, then the close), the run ends once, and a
// download under way leaves nothing behind.
TEST_F(UpdateSessionTest, ALostLinkEndsTheRunOnceAndDropsTheDownload) {
    Open();
    Receive(FileDescription{kFromServer, action::CheckFile, 1, AsBytes("b.bin"), AsBytes("b.bin"),
                            0x12345678});
    Sent();
    Receive(DataChunk{kFromServer, 0, AsBytes("partial")});
    session.OnLinkLost();
    session.OnLinkLost();
    ASSERT_EQ(window.boxes.size(), 1u);
    EXPECT_EQ(window.boxes[0].status, ExitStatus::Network);
    EXPECT_EQ(window.boxes[0].caption, "Network error");
    EXPECT_EQ(window.boxes[0].text, "connection lost");
    EXPECT_EQ(window.errors, 1);
    EXPECT_TRUE(std::filesystem::is_empty("."));
}

// With a window, requests run ahead once the size is known, never past the empty chunk; every
// chunk that arrives in order is answered with the next request.
TEST_F(UpdateSessionTest, RequestsInFlightStayWithinTheWindowAndTheFile) {
    session.SetRequestWindow(4);
    Open();
    std::string const content(5000, 'w');  // chunks 0, 1, 2 with data; 3 is the empty one
    Receive(FileDescription{kFromServer, action::CheckFile, 1, AsBytes("c.bin"), AsBytes("c.bin"),
                            checksum::Crc32(AsBytes(content))});
    ASSERT_EQ(Sent().size(), 2u);  // the file and chunk 0, as with one request at a time
    Receive(FileSize{kFromServer, AsBytes("c.bin"), 5000});
    auto const indexes = [](Frames const& frames) {
        std::vector<std::uint32_t> found;
        for (auto const& frame : frames) {
            found.push_back(test::Read32(frame, 15));
        }
        return found;
    };
    EXPECT_EQ(indexes(Sent()), (std::vector<std::uint32_t>{1, 2, 3}));
    for (std::uint32_t index = 0; index < 3; ++index) {
        Receive(DataChunk{kFromServer, index, test::ChunkOf(AsBytes(content), index)});
        EXPECT_TRUE(Sent().empty()) << "asked beyond the empty chunk after chunk " << index;
    }
    Receive(DataChunk{kFromServer, 3, {}});
    ASSERT_EQ(Sent().size(), 1u);  // acknowledged
    EXPECT_EQ(test::ReadFile("c.bin"), content);
}

// ---- Resumed downloads ------------------------------------------------------------------------

std::uint32_t ChunkIndexOf(std::vector<std::uint8_t> const& request) {
    return test::Read32(request, 15);
}

class ResumeTest : public UpdateSessionTest {
  protected:
    static constexpr std::size_t kSize = 100 * kChunkDataMax + 77;  // chunks 0..100, 101 empty

    ResumeTest() : content_(kSize, '\0') {
        for (std::size_t i = 0; i < kSize; ++i) {
            content_[i] = static_cast<char>(i * 131 % 251);
        }
    }

    std::uint32_t Crc() const { return checksum::Crc32(AsBytes(content_)); }

    // Describes the file in `on`; its size follows. The index of the first chunk requested.
    std::uint32_t Describe(UpdateSession& on, std::uint32_t crc) {
        Deliver(on, FileDescription{kFromServer, action::CheckFile, 1, AsBytes("big.bin"),
                                    AsBytes("big.bin"), crc});
        Deliver(on, FileSize{kFromServer, AsBytes("big.bin"), static_cast<std::uint32_t>(kSize)});
        Bytes const sent = on.outgoing();
        std::vector<std::uint8_t> const chunkRequest(sent.begin() + 415, sent.begin() + 415 + 419);
        on.ClearOutgoing();
        return ChunkIndexOf(chunkRequest);
    }

    void Chunk(UpdateSession& on, std::uint32_t index) {
        Deliver(on, DataChunk{kFromServer, index, test::ChunkOf(AsBytes(content_), index)});
        on.ClearOutgoing();
    }

    // A first run that receives chunks 0..count-1 and then loses its connection.
    void Interrupted(std::uint32_t count) {
        RecordingWindow firstWindow;
        UpdateSession first(firstWindow);
        ASSERT_EQ(Describe(first, Crc()), 0u);
        for (std::uint32_t index = 0; index < count; ++index) {
            Chunk(first, index);
        }
        first.OnLinkLost();
    }

    std::string content_;
};

TEST_F(ResumeTest, ALostConnectionKeepsWhatArrivedAndTheNextRunGoesOnFromThere) {
    Interrupted(60);
    EXPECT_EQ(std::filesystem::file_size(".quillmesh-partial-big.bin"), 60 * kChunkDataMax);
    EXPECT_NE(
        test::ReadFile("crc.ini").find("[PARTIAL_DOWNLOADS]\nbig.bin=" + std::to_string(Crc())),
        std::string::npos);

    EXPECT_EQ(Describe(session, Crc()), 60u);
    for (std::uint32_t index = 60; index <= 101; ++index) {
        Chunk(session, index);
    }
    EXPECT_EQ(window.transfers.front(), "121620 bytes received  (59 %)");
    EXPECT_EQ(test::ReadFile("big.bin"), content_);
    EXPECT_FALSE(std::filesystem::exists(".quillmesh-partial-big.bin"));
    EXPECT_EQ(test::ReadFile("crc.ini").find("PARTIAL"), std::string::npos);
    EXPECT_TRUE(window.boxes.empty());
}

TEST_F(ResumeTest, AServerThatSendsFromTheStartGetsADownloadFromTheStart) {
    Interrupted(60);
    ASSERT_EQ(Describe(session, Crc()), 60u);
    // The resume index was ignored: chunk 0 comes.
    Receive(DataChunk{kFromServer, 0, AsBytes(content_).first(kChunkDataMax)});
    std::vector<std::uint8_t> const next(session.outgoing().begin(), session.outgoing().end());
    session.ClearOutgoing();
    ASSERT_EQ(next.size(), 419u);
    EXPECT_EQ(ChunkIndexOf(next), 1u);
    for (std::uint32_t index = 1; index <= 101; ++index) {
        Chunk(session, index);
    }
    EXPECT_EQ(test::ReadFile("big.bin"), content_);
    EXPECT_TRUE(window.boxes.empty());
}

TEST_F(ResumeTest, PartialDataOfAnotherVersionIsRemovedNotUsed) {
    Interrupted(60);
    EXPECT_EQ(Describe(session, Crc() ^ 1), 0u);
    EXPECT_FALSE(std::filesystem::exists(".quillmesh-partial-big.bin"));
    EXPECT_EQ(test::ReadFile("crc.ini").find("PARTIAL"), std::string::npos);
}

TEST_F(ResumeTest, DamagedPartialDataFailsTheChecksumAndIsRemoved) {
    Interrupted(60);
    test::WriteFile(".quillmesh-partial-big.bin", std::string(60 * kChunkDataMax, 'x'));
    ASSERT_EQ(Describe(session, Crc()), 60u);
    for (std::uint32_t index = 60; index <= 101; ++index) {
        Chunk(session, index);
    }
    ASSERT_EQ(window.boxes.size(), 1u);
    EXPECT_EQ(window.boxes[0].text, "The downloaded file is damaged (wrong checksum): big.bin ...");
    EXPECT_FALSE(std::filesystem::exists("big.bin"));
    EXPECT_FALSE(std::filesystem::exists(".quillmesh-partial-big.bin"));
}

// ---- The fast path ----------------------------------------------------------------------------

// A session logged in to a server that announced the fast path, which asked for the first list's
// entries.
struct FastPathRig {
    RecordingWindow window;
    UpdateSession session{window};

    std::vector<std::vector<std::uint8_t>> Sent() {
        std::vector<std::vector<std::uint8_t>> frames;
        for (auto const frame : test::SplitFrames(session.outgoing()).frames) {
            frames.emplace_back(frame.begin(), frame.end());
        }
        session.ClearOutgoing();
        return frames;
    }
    template <typename Message>
    void Receive(Message const& message) {
        base::ByteBuffer frame;
        Append(frame, message);
        session.HandleMessage(frame);
    }
    void Open() {
        session.OnConnected();
        session.OnHandshakeBegun();
        session.OnWelcome(LinkIds{0x0A000001, 0x00000100});
        Sent();
        Receive(ServerAnnouncement{kFromServer, kUpdateService, capability::kFastPath});
        Sent();
        Receive(ListSummary{kFromServer, 7, AsBytes("quillmesh.ini"), AsBytes("next.ini"), 0});
        auto const asked = Sent();
        ASSERT_EQ(asked.size(), 2u);
        EXPECT_EQ(asked[0], test::EntriesRequest(0x0A000001, 1, "quillmesh.ini", 0, 256));
        EXPECT_EQ(asked[1], test::EntriesRequest(0x0A000001, 1, "quillmesh.ini", 256, 256));
    }
};

std::vector<std::uint8_t> EntriesFrame(std::uint32_t first,
                                       std::vector<std::vector<std::uint8_t>> const& entries,
                                       bool endsList = true) {
    std::vector<std::uint8_t> joined;
    for (auto const& entry : entries) {
        joined.insert(joined.end(), entry.begin(), entry.end());
    }
    return test::ListEntries(1, 0x0A000001, first, static_cast<std::uint16_t>(entries.size()),
                             endsList, joined);
}

// Whatever a server sends on the fast path is checked before it is used; what breaks its rules
// ends the run as invalid data, with nothing written.
TEST(FastPath, WhatBreaksTheRulesOfEntriesAndStreamsIsInvalidData) {
    auto const end = test::Entry({.action = 2, .crc = 7, .localPath = "next.ini"});
    auto const different =
        test::Entry({.crc = 0x1234, .size = 3000, .localPath = "a.bin", .remoteName = "a.bin"});
    auto pathPastFrame = EntriesFrame(0, {end});
    pathPastFrame[23 + 9] = 60;
    auto const longName = test::Entry({.localPath = "a.bin", .remoteName = std::string(401, 'n')});
    auto trailing = EntriesFrame(0, {end});
    trailing.push_back(0);
    trailing[1] = static_cast<std::uint8_t>(trailing[1] + 1);
    auto const stream = EntriesFrame(0, {different}, false);
    auto const size = test::FileSize(1, 0x0A000001, "a.bin", 3000);
    auto const someData = test::ToBytes("abc");
    std::string const entries = "invalid list entries from the server";
    std::string const chunk = "invalid data chunk from the server";
    struct Case {
        char const* name;
        std::vector<std::vector<std::uint8_t>> frames;
        std::string text;
    };
    Case const cases[] = {
        {"a first entry that is not the next", {EntriesFrame(1, {end})}, entries},
        {"no entries", {EntriesFrame(0, {})}, entries},
        {"a local path past the frame", {pathPastFrame}, entries},
        {"a remote name longer than its field", {EntriesFrame(0, {longName, end})}, entries},
        {"bytes after the last entry", {trailing}, entries},
        {"an end in a frame not marked so", {EntriesFrame(0, {end}, false)}, entries},
        {"a marked frame that ends with a file", {EntriesFrame(0, {different})}, entries},
        {"a begin entry", {EntriesFrame(0, {test::Entry({.action = 0}), end})}, entries},
        {"entries after the end", {EntriesFrame(0, {end}), EntriesFrame(1, {end})}, entries},
        {"a chunk with no stream", {test::DataChunk(1, 0x0A000001, 0, someData)}, chunk},
        {"a stream's chunk before its size",
         {stream, test::DataChunk(1, 0x0A000001, 0, someData)},
         chunk},
        {"a stream's chunks out of order",
         {stream, size, test::DataChunk(1, 0x0A000001, 1, someData)},
         chunk},
        {"a size with no stream", {size}, "invalid file size from the server"},
        {"a file description",
         {test::FileDescription({.sender = 1, .destination = 0x0A000001, .action = 0})},
         "invalid file description from the server"},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir dir;
        FastPathRig rig;
        rig.Open();
        for (auto const& frame : c.frames) {
            rig.session.HandleMessage(frame);
        }
        ASSERT_FALSE(rig.window.boxes.empty());
        EXPECT_EQ(rig.window.boxes.front().text, c.text);
        EXPECT_FALSE(std::filesystem::exists("a.bin"));
    }
}

}  // namespace
}  // namespace qm::update
