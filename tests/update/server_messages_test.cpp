// The messages the reference server writes and the readers it uses for the updater's, through
// the same layouts as the updater, checked byte for byte against the tests' wire oracle.
#include "update/messages.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/welcome.h"
#include "support/wire.h"

namespace qm::update {
namespace {

namespace wire = qm::test;
using base::AsBytes;
using wire::Bytes;

constexpr std::uint32_t kServer = 0x00000001;
constexpr std::uint32_t kClient = 0x0A000001;
constexpr Address kToClient{kServer, kClient};

template <typename Message>
Bytes Written(Message const& message) {
    base::ByteBuffer out;
    Append(out, message);
    return {out.begin(), out.end()};
}

// ---- Writers: byte-exact ----------------------------------------------------------------------

TEST(ServerWriters, WelcomeIs151BytesOfTypeZeroCarryingBothIds) {
    base::ByteBuffer out;
    net::AppendWelcome(out, 0x0000002A, 0x01020300);
    EXPECT_EQ(Bytes(out.begin(), out.end()), wire::Welcome(0x2A, 0x01020300));
}

TEST(ServerWriters, AnnouncementHasTheServiceCodeAtByte27) {
    EXPECT_EQ(Written(ServerAnnouncement{kToClient, 4}),
              wire::ServerAnnouncement(kServer, kClient, 4));
}

Bytes Summary(std::uint32_t crc, std::string_view key, std::string_view next,
              std::uint8_t complete) {
    return wire::ListSummary(kServer, kClient, crc, key, next, complete);
}

TEST(ServerWriters, ListSummaryOfAKnownList) {
    EXPECT_EQ(
        Written(ListSummary{kToClient, 0xCBF43926, AsBytes("data.ini"), AsBytes("gfx.ini"), 0}),
        Summary(0xCBF43926, "data.ini", "gfx.ini", 0));
}

TEST(ServerWriters, ListSummaryThatCompletesTheRun) {
    EXPECT_EQ(Written(ListSummary{kToClient, 0, {}, {}, 1}), Summary(0, "", "", 1));
}

Bytes Description(std::uint8_t action, std::uint32_t token, std::string_view local,
                  std::string_view remote, std::uint32_t crc) {
    return wire::FileDescription({kServer, kClient, action, token, local, remote, crc});
}

TEST(ServerWriters, FileDescriptionOfAFileToCheck) {
    EXPECT_EQ(Written(FileDescription{kToClient, action::CheckFile, 7, AsBytes("data/a.bin"),
                                      AsBytes("data/a.bin"), 0x12345678}),
              Description(1, 7, "data/a.bin", "data/a.bin", 0x12345678));
}

TEST(ServerWriters, FileDescriptionOfAListEndNamesTheNextListInTheLocalPath) {
    EXPECT_EQ(Written(FileDescription{kToClient, action::SwitchList, 3, AsBytes("gfx.ini"),
                                      AsBytes("data.ini"), 0xAABBCCDD}),
              Description(2, 3, "gfx.ini", "data.ini", 0xAABBCCDD));
}

TEST(ServerWriters, LocalPathOf64CharactersFillsItsFieldWithoutSpillingIntoTheRemoteName) {
    std::string const path(70, 'p');
    EXPECT_EQ(
        Written(FileDescription{kToClient, action::CheckFile, 1, AsBytes(path), AsBytes("r"), 0}),
        Description(1, 1, std::string(64, 'p'), "r", 0));
}

TEST(ServerWriters, FileSize) {
    EXPECT_EQ(Written(FileSize{kToClient, AsBytes("data/a.bin"), 5000}),
              wire::FileSize(kServer, kClient, "data/a.bin", 5000));
}

TEST(ServerWriters, FileSizeNameAlwaysEndsInsideItsField) {
    std::string const name(700, 'n');
    EXPECT_EQ(Written(FileSize{kToClient, AsBytes(name), 1}),
              wire::FileSize(kServer, kClient, std::string(599, 'n'), 1));
}

TEST(ServerWriters, DataChunkWithData) {
    Bytes const data{0xAA, 0xBB, 0xCC};
    EXPECT_EQ(Written(DataChunk{kToClient, 2, data}), wire::DataChunk(kServer, kClient, 2, data));
}

TEST(ServerWriters, EmptyDataChunkMarksTheEnd) {
    EXPECT_EQ(Written(DataChunk{kToClient, 0x01020304, {}}),
              wire::DataChunk(kServer, kClient, 0x01020304, {}));
}

TEST(ServerWriters, FullDataChunkIsTheLargestFrameAndLongerDataIsCut) {
    for (std::size_t const size : {std::size_t{2027}, std::size_t{3000}}) {
        SCOPED_TRACE(size);
        Bytes data(size);
        for (std::size_t i = 0; i < size; ++i) {
            data[i] = static_cast<std::uint8_t>(i * 7);
        }
        Bytes const want = wire::DataChunk(kServer, kClient, 0, std::span(data).first(2027));
        ASSERT_EQ(want.size(), wire::kMaxFrame - 3);
        EXPECT_EQ(Written(DataChunk{kToClient, 0, data}), want);
    }
}

TEST(ServerWriters, AShorterMessageLeavesNothingOfAnEarlierLongerOne) {
    base::ByteBuffer out;
    Append(out, FileSize{kToClient, AsBytes("x"), 0xFFFFFFFF});
    out.clear();  // the outbox reuses its storage once a frame went out
    Append(out, DataChunk{kToClient, 0, {}});
    EXPECT_EQ(Bytes(out.begin(), out.end()), wire::DataChunk(kServer, kClient, 0, {}));
}

// ---- Readers ----------------------------------------------------------------------------------

TEST(ServerReaders, LoginMessage) {
    auto const frame = wire::LoginMessage(kClient, 0x01020304);
    auto const login = ReadLoginMessage(frame);
    ASSERT_TRUE(login.has_value());
    EXPECT_EQ(login->peerIdEcho, 0x01020304u);  // little-endian on the wire
    EXPECT_EQ(FieldText(login->networkWord), "FENWARDIX");
    EXPECT_EQ(FieldText(login->clientName), "Uploader");
    auto const head = ReadMessageHead(frame);
    ASSERT_TRUE(head.has_value());
    EXPECT_EQ(head->type, kNetworkFrame);
    EXPECT_EQ(head->kind, kind::LoginMessage);
    EXPECT_EQ(head->sourceId, kClient);
}

TEST(ServerReaders, NetworkWordThatFillsItsFieldStopsAtTheFieldsEnd) {
    Bytes const frame = wire::LoginMessage(kClient, 1, std::string(40, 'W'));
    auto const login = ReadLoginMessage(frame);
    ASSERT_TRUE(login.has_value());
    EXPECT_EQ(FieldText(login->networkWord), std::string(32, 'W'));
}

TEST(ServerReaders, ServerQuery) {
    Bytes const frame = wire::ServerQuery(kClient, 4);
    auto const query = ReadServerQuery(frame);
    ASSERT_TRUE(query.has_value());
    EXPECT_EQ(query->serviceCode, 4);
}

TEST(ServerReaders, AckMessage) {
    Bytes const frame = wire::AckMessage(kClient, kServer, "data.ini", 0x105);
    auto const ack = ReadAckMessage(frame);
    ASSERT_TRUE(ack.has_value());
    EXPECT_EQ(FieldText(ack->listName), "data.ini");
    EXPECT_EQ(ack->fileToken, 0x105u);
}

TEST(ServerReaders, ListRequestReadsTheNameUpToItsZeroNotTheBytesAfterIt) {
    using namespace std::string_view_literals;
    Bytes const frame = wire::ListRequest(kClient, kServer, "gfx.ini\0junk"sv);
    auto const request = ReadListRequest(frame);
    ASSERT_TRUE(request.has_value());
    EXPECT_EQ(FieldText(request->listName), "gfx.ini");
}

TEST(ServerReaders, FileRequest) {
    Bytes const frame = wire::FileRequest(kClient, kServer, "data/maps/town.map");
    auto const request = ReadFileRequest(frame);
    ASSERT_TRUE(request.has_value());
    EXPECT_EQ(FieldText(request->remoteName), "data/maps/town.map");
}

TEST(ServerReaders, ChunkRequest) {
    Bytes const frame = wire::ChunkRequest(kClient, kServer, 0x00010002, "a.bin");
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
