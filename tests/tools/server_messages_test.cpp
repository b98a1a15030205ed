#include "update_server/server_messages.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "literal_bytes.h"

namespace qm::server {
namespace {

using test::LiteralBytes;

constexpr Addressing kToClient{0x00000001, 0x0A000001};

std::vector<std::uint8_t> Bytes(OutgoingFrame const& frame) {
    return {frame.bytes().begin(), frame.bytes().end()};
}

// ---- Writers: byte-exact ----------------------------------------------------------------------

TEST(ServerWriters, WelcomeIs151BytesOfTypeZeroCarryingBothIds) {
    OutgoingFrame frame;
    WriteWelcome(frame, Addressing{0x0000002A, 0x01020300});
    EXPECT_EQ(Bytes(frame),
              LiteralBytes().Hex("00 97 00  00 00 00 2A  01 02 03 00").Zeros(140).bytes());
}

TEST(ServerWriters, AnnouncementHasTheServiceCodeAtByte27) {
    OutgoingFrame frame;
    WriteServerAnnouncement(frame, kToClient, 4);
    EXPECT_EQ(Bytes(frame), LiteralBytes()
                                .Hex("00 1C 00  00 00 00 01  0A 00 00 01  03 00 00 00")
                                .Zeros(12)
                                .Hex("04")
                                .bytes());
}

TEST(ServerWriters, ListSummaryOfAKnownList) {
    OutgoingFrame frame;
    WriteListSummary(frame, kToClient, 0xCBF43926, "data.ini", "gfx.ini", false);
    EXPECT_EQ(Bytes(frame), LiteralBytes()
                                .Hex("00 94 04  00 00 00 01  0A 00 00 01  07 00 00 00")
                                .Hex("CB F4 39 26")
                                .Text("data.ini", 64)
                                .Text("gfx.ini", 64)
                                .Hex("00")
                                .bytes());
}

TEST(ServerWriters, ListSummaryThatCompletesTheRun) {
    OutgoingFrame frame;
    WriteListSummary(frame, kToClient, 0, "", "", true);
    EXPECT_EQ(Bytes(frame), LiteralBytes()
                                .Hex("00 94 04  00 00 00 01  0A 00 00 01  07 00 00 00")
                                .Zeros(4 + 64 + 64)
                                .Hex("01")
                                .bytes());
}

TEST(ServerWriters, FileDescriptionOfAFileToCheck) {
    OutgoingFrame frame;
    WriteFileDescription(frame, kToClient, action::CheckFile, 7, "data/a.bin", "data/a.bin",
                         0x12345678);
    EXPECT_EQ(Bytes(frame), LiteralBytes()
                                .Hex("01 EB 04  00 00 00 01  0A 00 00 01  01 00 00 00")
                                .Hex("01 00 00 00  00 00 00 07")
                                .Text("data/a.bin", 64)
                                .Text("data/a.bin", 400)
                                .Hex("12 34 56 78")
                                .bytes());
}

TEST(ServerWriters, FileDescriptionOfAListEndNamesTheNextListInTheLocalPath) {
    OutgoingFrame frame;
    WriteFileDescription(frame, kToClient, action::SwitchList, 3, "gfx.ini", "data.ini",
                         0xAABBCCDD);
    EXPECT_EQ(Bytes(frame), LiteralBytes()
                                .Hex("01 EB 04  00 00 00 01  0A 00 00 01  01 00 00 00")
                                .Hex("02 00 00 00  00 00 00 03")
                                .Text("gfx.ini", 64)
                                .Text("data.ini", 400)
                                .Hex("AA BB CC DD")
                                .bytes());
}

TEST(ServerWriters, LocalPathOf64CharactersFillsItsFieldWithoutSpillingIntoTheRemoteName) {
    OutgoingFrame frame;
    std::string const path(70, 'p');
    WriteFileDescription(frame, kToClient, action::CheckFile, 1, path, "r", 0);
    EXPECT_EQ(Bytes(frame), LiteralBytes()
                                .Hex("01 EB 04  00 00 00 01  0A 00 00 01  01 00 00 00")
                                .Hex("01 00 00 00  00 00 00 01")
                                .Text(std::string(64, 'p'), 64)
                                .Text("r", 400)
                                .Zeros(4)
                                .bytes());
}

TEST(ServerWriters, FileSize) {
    OutgoingFrame frame;
    WriteFileSize(frame, kToClient, "data/a.bin", 5000);
    EXPECT_EQ(Bytes(frame), LiteralBytes()
                                .Hex("02 6B 04  00 00 00 01  0A 00 00 01  05 00 00 00")
                                .Text("data/a.bin", 600)
                                .Hex("00 00 13 88")
                                .bytes());
}

TEST(ServerWriters, FileSizeNameAlwaysEndsInsideItsField) {
    OutgoingFrame frame;
    WriteFileSize(frame, kToClient, std::string(700, 'n'), 1);
    EXPECT_EQ(Bytes(frame), LiteralBytes()
                                .Hex("02 6B 04  00 00 00 01  0A 00 00 01  05 00 00 00")
                                .Text(std::string(599, 'n'), 600)
                                .Hex("00 00 00 01")
                                .bytes());
}

TEST(ServerWriters, DataChunkWithData) {
    OutgoingFrame frame;
    std::vector<std::uint8_t> const data{0xAA, 0xBB, 0xCC};
    WriteDataChunk(frame, kToClient, 2, data);
    EXPECT_EQ(Bytes(frame), LiteralBytes()
                                .Hex("00 18 04  00 00 00 01  0A 00 00 01  03 00 00 00")
                                .Hex("00 00 00 02  00 03  AA BB CC")
                                .bytes());
}

TEST(ServerWriters, EmptyDataChunkMarksTheEnd) {
    OutgoingFrame frame;
    WriteDataChunk(frame, kToClient, 0x01020304, {});
    EXPECT_EQ(Bytes(frame), LiteralBytes()
                                .Hex("00 15 04  00 00 00 01  0A 00 00 01  03 00 00 00")
                                .Hex("01 02 03 04  00 00")
                                .bytes());
}

TEST(ServerWriters, FullDataChunkIsTheLargestFrameAndLongerDataIsCut) {
    for (std::size_t const size : {std::size_t{2027}, std::size_t{3000}}) {
        SCOPED_TRACE(size);
        std::vector<std::uint8_t> data(size);
        for (std::size_t i = 0; i < size; ++i) {
            data[i] = static_cast<std::uint8_t>(i * 7);
        }
        OutgoingFrame frame;
        WriteDataChunk(frame, kToClient, 0, data);
        LiteralBytes expected;
        expected.Hex("08 00 04  00 00 00 01  0A 00 00 01  03 00 00 00  00 00 00 00  07 EB");
        std::vector<std::uint8_t> want = expected.bytes();
        want.insert(want.end(), data.begin(), data.begin() + 2027);
        EXPECT_EQ(Bytes(frame), want);
    }
}

TEST(ServerWriters, AShorterMessageLeavesNothingOfAnEarlierLongerOne) {
    OutgoingFrame frame;
    WriteFileSize(frame, kToClient, "x", 0xFFFFFFFF);
    WriteDataChunk(frame, kToClient, 0, {});
    EXPECT_EQ(
        Bytes(frame),
        LiteralBytes().Hex("00 15 04  00 00 00 01  0A 00 00 01  03 00 00 00").Zeros(6).bytes());
}

// ---- Readers ----------------------------------------------------------------------------------

std::vector<std::uint8_t> LoginFrame(std::string_view networkWord) {
    return LiteralBytes()
        .Hex("01 17 00  0A 00 00 01  00 00 00 01  0C 00 00 00")
        .Hex("04 03 02 01")
        .Text(networkWord, 32)
        .Zeros(100)
        .Text("Uploader", 128)
        .bytes();
}

TEST(ServerReaders, LoginMessage) {
    auto const frame = LoginFrame("FENWARDIX");
    auto const login = ReadLoginMessage(frame);
    ASSERT_TRUE(login.has_value());
    EXPECT_EQ(login->peerIdEcho, 0x01020304u);  // little-endian on the wire
    EXPECT_EQ(login->networkWord, "FENWARDIX");
    EXPECT_EQ(login->clientName, "Uploader");
    auto const head = ReadMessageHead(frame);
    ASSERT_TRUE(head.has_value());
    EXPECT_EQ(head->type, kNetworkFrame);
    EXPECT_EQ(head->kind, kind::LoginMessage);
    EXPECT_EQ(head->sourceId, 0x0A000001u);
}

TEST(ServerReaders, NetworkWordThatFillsItsFieldStopsAtTheFieldsEnd) {
    auto const frame = LoginFrame(std::string(32, 'W'));
    auto const login = ReadLoginMessage(frame);
    ASSERT_TRUE(login.has_value());
    EXPECT_EQ(login->networkWord, std::string(32, 'W'));
}

TEST(ServerReaders, ServerQuery) {
    auto const frame =
        LiteralBytes().Hex("00 13 00 0A 00 00 01 FF FF FF 00 02 00 00 00 04 00 00 00").bytes();
    auto const query = ReadServerQuery(frame);
    ASSERT_TRUE(query.has_value());
    EXPECT_EQ(query->serviceCode, 4);
}

TEST(ServerReaders, AckMessage) {
    auto const frame = LiteralBytes()
                           .Hex("00 53 04  0A 00 00 01  00 00 00 01  00 00 00 00")
                           .Text("data.ini", 64)
                           .Hex("00 00 01 05")
                           .bytes();
    auto const ack = ReadAckMessage(frame);
    ASSERT_TRUE(ack.has_value());
    EXPECT_EQ(ack->listName, "data.ini");
    EXPECT_EQ(ack->fileToken, 0x105u);
}

TEST(ServerReaders, ListRequestReadsTheNameUpToItsZeroNotTheBytesAfterIt) {
    auto const frame = LiteralBytes()
                           .Hex("00 4F 04  0A 00 00 01  00 00 00 01  06 00 00 00")
                           .Text("gfx.ini", 8)
                           .Text("junk", 56)
                           .bytes();
    auto const request = ReadListRequest(frame);
    ASSERT_TRUE(request.has_value());
    EXPECT_EQ(request->listName, "gfx.ini");
}

TEST(ServerReaders, FileRequest) {
    auto const frame = LiteralBytes()
                           .Hex("01 9F 04  0A 00 00 01  00 00 00 01  04 00 00 00")
                           .Text("data/maps/town.map", 400)
                           .bytes();
    auto const request = ReadFileRequest(frame);
    ASSERT_TRUE(request.has_value());
    EXPECT_EQ(request->remoteName, "data/maps/town.map");
}

TEST(ServerReaders, ChunkRequest) {
    auto const frame = LiteralBytes()
                           .Hex("01 A3 04  0A 00 00 01  00 00 00 01  02 00 00 00")
                           .Hex("00 01 00 02")
                           .Text("a.bin", 400)
                           .bytes();
    auto const request = ReadChunkRequest(frame);
    ASSERT_TRUE(request.has_value());
    EXPECT_EQ(request->chunkIndex, 0x00010002u);
    EXPECT_EQ(request->remoteName, "a.bin");
}

TEST(ServerReaders, FramesShorterThanTheirLayoutAreRefused) {
    struct Case {
        char const* name;
        std::size_t length;
        bool (*read)(std::span<const std::uint8_t>);
    };
    Case const cases[] = {
        {"head", 15, [](auto f) { return ReadMessageHead(f).has_value(); }},
        {"login", 279, [](auto f) { return ReadLoginMessage(f).has_value(); }},
        {"query", 19, [](auto f) { return ReadServerQuery(f).has_value(); }},
        {"ack", 83, [](auto f) { return ReadAckMessage(f).has_value(); }},
        {"list request", 79, [](auto f) { return ReadListRequest(f).has_value(); }},
        {"file request", 415, [](auto f) { return ReadFileRequest(f).has_value(); }},
        {"chunk request", 419, [](auto f) { return ReadChunkRequest(f).has_value(); }},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::uint8_t> const frame(c.length, 0);
        EXPECT_TRUE(c.read(frame));
        EXPECT_FALSE(c.read(std::span(frame).first(c.length - 1)));
    }
}

}  // namespace
}  // namespace qm::server
