// The messages the reference server writes and the readers it uses for the updater's, through
// the same layouts as the updater, checked byte for byte.
#include "update/messages.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/welcome.h"
#include "tools/literal_bytes.h"

namespace qm::update {
namespace {

using test::LiteralBytes;

constexpr Address kToClient{0x00000001, 0x0A000001};
using base::AsBytes;

template <typename Message>
std::vector<std::uint8_t> Written(Message const& message) {
    base::ByteBuffer out;
    Append(out, message);
    return {out.begin(), out.end()};
}

// ---- Writers: byte-exact ----------------------------------------------------------------------

TEST(ServerWriters, WelcomeIs151BytesOfTypeZeroCarryingBothIds) {
    base::ByteBuffer out;
    net::AppendWelcome(out, 0x0000002A, 0x01020300);
    EXPECT_EQ(std::vector<std::uint8_t>(out.begin(), out.end()),
              LiteralBytes().Hex("00 97 00  00 00 00 2A  01 02 03 00").Zeros(140).bytes());
}

TEST(ServerWriters, AnnouncementHasTheServiceCodeAtByte27) {
    EXPECT_EQ(Written(ServerAnnouncement{kToClient, 4}),
              LiteralBytes()
                  .Hex("00 1C 00  00 00 00 01  0A 00 00 01  03 00 00 00")
                  .Zeros(12)
                  .Hex("04")
                  .bytes());
}

TEST(ServerWriters, ListSummaryOfAKnownList) {
    EXPECT_EQ(
        Written(ListSummary{kToClient, 0xCBF43926, AsBytes("data.ini"), AsBytes("gfx.ini"), 0}),
        LiteralBytes()
            .Hex("00 94 04  00 00 00 01  0A 00 00 01  07 00 00 00")
            .Hex("CB F4 39 26")
            .Text("data.ini", 64)
            .Text("gfx.ini", 64)
            .Hex("00")
            .bytes());
}

TEST(ServerWriters, ListSummaryThatCompletesTheRun) {
    EXPECT_EQ(Written(ListSummary{kToClient, 0, {}, {}, 1}),
              LiteralBytes()
                  .Hex("00 94 04  00 00 00 01  0A 00 00 01  07 00 00 00")
                  .Zeros(4 + 64 + 64)
                  .Hex("01")
                  .bytes());
}

TEST(ServerWriters, FileDescriptionOfAFileToCheck) {
    EXPECT_EQ(Written(FileDescription{kToClient, action::CheckFile, 7, AsBytes("data/a.bin"),
                                      AsBytes("data/a.bin"), 0x12345678}),
              LiteralBytes()
                  .Hex("01 EB 04  00 00 00 01  0A 00 00 01  01 00 00 00")
                  .Hex("01 00 00 00  00 00 00 07")
                  .Text("data/a.bin", 64)
                  .Text("data/a.bin", 400)
                  .Hex("12 34 56 78")
                  .bytes());
}

TEST(ServerWriters, FileDescriptionOfAListEndNamesTheNextListInTheLocalPath) {
    EXPECT_EQ(Written(FileDescription{kToClient, action::SwitchList, 3, AsBytes("gfx.ini"),
                                      AsBytes("data.ini"), 0xAABBCCDD}),
              LiteralBytes()
                  .Hex("01 EB 04  00 00 00 01  0A 00 00 01  01 00 00 00")
                  .Hex("02 00 00 00  00 00 00 03")
                  .Text("gfx.ini", 64)
                  .Text("data.ini", 400)
                  .Hex("AA BB CC DD")
                  .bytes());
}

TEST(ServerWriters, LocalPathOf64CharactersFillsItsFieldWithoutSpillingIntoTheRemoteName) {
    std::string const path(70, 'p');
    EXPECT_EQ(
        Written(FileDescription{kToClient, action::CheckFile, 1, AsBytes(path), AsBytes("r"), 0}),
        LiteralBytes()
            .Hex("01 EB 04  00 00 00 01  0A 00 00 01  01 00 00 00")
            .Hex("01 00 00 00  00 00 00 01")
            .Text(std::string(64, 'p'), 64)
            .Text("r", 400)
            .Zeros(4)
            .bytes());
}

TEST(ServerWriters, FileSize) {
    EXPECT_EQ(Written(FileSize{kToClient, AsBytes("data/a.bin"), 5000}),
              LiteralBytes()
                  .Hex("02 6B 04  00 00 00 01  0A 00 00 01  05 00 00 00")
                  .Text("data/a.bin", 600)
                  .Hex("00 00 13 88")
                  .bytes());
}

TEST(ServerWriters, FileSizeNameAlwaysEndsInsideItsField) {
    std::string const name(700, 'n');
    EXPECT_EQ(Written(FileSize{kToClient, AsBytes(name), 1}),
              LiteralBytes()
                  .Hex("02 6B 04  00 00 00 01  0A 00 00 01  05 00 00 00")
                  .Text(std::string(599, 'n'), 600)
                  .Hex("00 00 00 01")
                  .bytes());
}

TEST(ServerWriters, DataChunkWithData) {
    std::vector<std::uint8_t> const data{0xAA, 0xBB, 0xCC};
    EXPECT_EQ(Written(DataChunk{kToClient, 2, data}),
              LiteralBytes()
                  .Hex("00 18 04  00 00 00 01  0A 00 00 01  03 00 00 00")
                  .Hex("00 00 00 02  00 03  AA BB CC")
                  .bytes());
}

TEST(ServerWriters, EmptyDataChunkMarksTheEnd) {
    EXPECT_EQ(Written(DataChunk{kToClient, 0x01020304, {}}),
              LiteralBytes()
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

        LiteralBytes expected;
        expected.Hex("08 00 04  00 00 00 01  0A 00 00 01  03 00 00 00  00 00 00 00  07 EB");
        std::vector<std::uint8_t> want = expected.bytes();
        want.insert(want.end(), data.begin(), data.begin() + 2027);
        EXPECT_EQ(Written(DataChunk{kToClient, 0, data}), want);
    }
}

TEST(ServerWriters, AShorterMessageLeavesNothingOfAnEarlierLongerOne) {
    base::ByteBuffer out;
    Append(out, FileSize{kToClient, AsBytes("x"), 0xFFFFFFFF});
    out.clear();  // the outbox reuses its storage once a frame went out
    Append(out, DataChunk{kToClient, 0, {}});
    EXPECT_EQ(
        std::vector<std::uint8_t>(out.begin(), out.end()),
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
    EXPECT_EQ(FieldText(login->networkWord), "FENWARDIX");
    EXPECT_EQ(FieldText(login->clientName), "Uploader");
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
    EXPECT_EQ(FieldText(login->networkWord), std::string(32, 'W'));
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
    EXPECT_EQ(FieldText(ack->listName), "data.ini");
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
    EXPECT_EQ(FieldText(request->listName), "gfx.ini");
}

TEST(ServerReaders, FileRequest) {
    auto const frame = LiteralBytes()
                           .Hex("01 9F 04  0A 00 00 01  00 00 00 01  04 00 00 00")
                           .Text("data/maps/town.map", 400)
                           .bytes();
    auto const request = ReadFileRequest(frame);
    ASSERT_TRUE(request.has_value());
    EXPECT_EQ(FieldText(request->remoteName), "data/maps/town.map");
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
    EXPECT_EQ(FieldText(request->remoteName), "a.bin");
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
}  // namespace qm::update
