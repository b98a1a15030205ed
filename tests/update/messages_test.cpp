// The updater's six requests are written and compared byte for byte with the tests' wire oracle;
// the readers of the server's replies are fed the oracle's frames cut to exactly their size, so a
// read past the frame shows up under the sanitizers as well as in the results.
#include "update/messages.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "support/wire.h"

namespace qm::update {
namespace {

namespace wire = qm::test;
using wire::Bytes;

constexpr std::uint32_t kClient = 0x0A000001;

// A field's bytes as they stand, zeros included, for the oracle's block copies.
std::string_view Block(std::span<const std::uint8_t> field) {
    return {reinterpret_cast<char const*>(field.data()), field.size()};
}

// Collects what the writers append.
class Written : public ::testing::Test {
  protected:
    Bytes Sent() const { return {out.begin(), out.end()}; }

    base::ByteBuffer out;
};

TEST_F(Written, ServerQueryIsNineteenBytes) {
    Append(out, ServerQuery{{kClient, kServerQueryDestination}, 4});
    EXPECT_EQ(Sent(), wire::ServerQuery(kClient, 4));
}

TEST_F(Written, LoginMessageEchoesThePeerIdLittleEndian) {
    Append(out, LoginMessage{{kClient, 0x01020304},
                             0x01020304,
                             base::AsBytes("FENWARDIX"),
                             base::AsBytes("Uploader")});
    EXPECT_EQ(Sent(), wire::LoginMessage(kClient, 0x01020304));
}

TEST_F(Written, LoginTextsLongerThanTheirFieldsAreCut) {
    std::string const word(40, 'W');
    std::string const name(130, 'N');
    Append(out, LoginMessage{{1, 2}, 2, base::AsBytes(word), base::AsBytes(name)});
    EXPECT_EQ(Sent(), wire::LoginMessage(1, 2, std::string(32, 'W'), std::string(128, 'N')));
}

TEST_F(Written, AckMessageCarriesListNameAndToken) {
    Append(out, AckMessage{{kClient, 7}, base::AsBytes("quillmesh.ini"), 0x11223344});
    EXPECT_EQ(Sent(), wire::AckMessage(kClient, 7, "quillmesh.ini", 0x11223344));
}

// A name field as a received message leaves it: a text, its zero, then leftovers.
ListNameField NameWithLeftovers() {
    ListNameField field{};
    std::string const text = "maps.ini";
    std::copy(text.begin(), text.end(), field.begin());
    std::fill(field.begin() + 9, field.end(), std::uint8_t{0x5A});
    return field;
}

// The session acknowledges with the text of its list-name field: a text copy.
TEST_F(Written, AckMessageTextCopyZeroesWhatFollowsTheName) {
    ListNameField const name = NameWithLeftovers();
    Append(out, AckMessage{{kClient, 7}, base::AsBytes(FieldText(name)), 0});
    EXPECT_EQ(Sent(), wire::AckMessage(kClient, 7, "maps.ini", 0));
}

TEST_F(Written, ListRequestBlockCopyKeepsWhatFollowsTheName) {
    ListNameField const name = NameWithLeftovers();
    Append(out, ListRequest{{kClient, 7}, name});
    Bytes const expected = wire::ListRequest(kClient, 7, Block(name));
    EXPECT_EQ(wire::TextAt(expected, 24, 55), std::string(55, 'Z'));
    EXPECT_EQ(Sent(), expected);
}

TEST_F(Written, SixtyFourCharacterNameFillsBothListFieldsWithoutTerminator) {
    std::string const name(64, 'L');
    ListNameField const field = MakeListName(name);
    Append(out, AckMessage{{kClient, 7}, base::AsBytes(FieldText(field)), 0x01020304});
    Append(out, ListRequest{{kClient, 7}, field});
    EXPECT_EQ(Sent(), wire::Joined({wire::AckMessage(kClient, 7, name, 0x01020304),
                                    wire::ListRequest(kClient, 7, name)}));
}

// A remote-name block as the server sent it: a name, its zero, then bytes up to the last one.
RemoteNameField RemoteNameBlock() {
    RemoteNameField field{};
    std::string const text = "bin\\quillmesh.exe";
    std::copy(text.begin(), text.end(), field.begin());
    for (std::size_t i = text.size() + 1; i < field.size(); ++i) {
        field[i] = static_cast<std::uint8_t>(i % 251 + 1);
    }
    return field;
}

TEST_F(Written, ChunkRequestCopiesTheRemoteNameBlockAsItStands) {
    RemoteNameField const remote = RemoteNameBlock();
    Append(out, ChunkRequest{{kClient, 0xC0A80001}, 0x00000102, remote});
    EXPECT_EQ(Sent(), wire::ChunkRequest(kClient, 0xC0A80001, 0x102, Block(remote)));
}

TEST_F(Written, FileRequestCopiesTheRemoteNameBlockAsItStands) {
    RemoteNameField const remote = RemoteNameBlock();
    Append(out, FileRequest{{kClient, 7}, remote});
    EXPECT_EQ(Sent(), wire::FileRequest(kClient, 7, Block(remote)));
}

// Frames are appended whole behind what is already there, which stays as it was.
TEST_F(Written, EveryWriterAppendsOneWholeFrameBehindTheOthers) {
    out.assign(3, 0xEE);
    Append(out, ServerQuery{{1, kServerQueryDestination}, 4});
    Append(out, ListRequest{{1, 2}, base::AsBytes("a.ini")});
    EXPECT_EQ(Sent(), wire::Joined({Bytes(3, 0xEE), wire::ServerQuery(1, 4),
                                    wire::ListRequest(1, 2, "a.ini")}));
}

// The address block: both ids big-endian, the kind, then three zero bytes.
TEST(AddressBlock, WritesIdsAndKindAndZerosAfterIt) {
    base::ByteBuffer out;
    Append(out, DataChunk{{0x01020304, 0xA0B0C0D0}, 0, {}});
    EXPECT_EQ(Bytes(out.begin(), out.end()), wire::DataChunk(0x01020304, 0xA0B0C0D0, 0, {}));
}

TEST(ListName, TextCopyIsCutToSixtyFourBytes) {
    ListNameField const field = MakeListName(std::string(70, 'x') + "tail");
    EXPECT_EQ(Bytes(field.begin(), field.end()), Bytes(64, 'x'));
    EXPECT_EQ(FieldText(field), std::string(64, 'x'));
}

TEST(ListName, ShortNameIsZeroPadded) {
    ListNameField const field = MakeListName("quillmesh.ini");
    EXPECT_EQ(Bytes(field.begin(), field.end()), wire::TextField(64, "quillmesh.ini"));
    EXPECT_EQ(FieldText(field), "quillmesh.ini");
}

// ---- Readers -------------------------------------------------------------------------------

Bytes Description(wire::FileDescriptionFields fields) {
    fields.destination = kClient;
    return wire::FileDescription(fields);
}

Bytes Summary(std::uint32_t sender, std::uint32_t crc, std::string_view key, std::string_view next,
              std::uint8_t complete) {
    return wire::ListSummary(sender, kClient, crc, key, next, complete);
}

// Each reader accepts a frame that just holds the last field it reads and refuses one byte less.
struct LengthCase {
    char const* name;
    Bytes frame;  // the shortest valid frame
    std::function<bool(std::span<const std::uint8_t>)> reads;
};

std::vector<LengthCase> LengthCases() {
    return {
        {"head", wire::Resized(Description({.sender = 9}), 15),
         [](auto f) { return ReadMessageHead(f).has_value(); }},
        {"announcement", wire::ServerAnnouncement(9, kClient),
         [](auto f) { return ReadServerAnnouncement(f).has_value(); }},
        {"file_description", Description({.sender = 9}),
         [](auto f) { return ReadFileDescription(f).has_value(); }},
        {"empty_data_chunk", wire::DataChunk(9, kClient, 0, {}),
         [](auto f) { return ReadDataChunk(f).has_value(); }},
        {"data_chunk", wire::DataChunk(9, kClient, 0, wire::ToBytes("abc")),
         [](auto f) { return ReadDataChunk(f).has_value(); }},
        {"file_size", wire::FileSize(9, kClient, "", 0),
         [](auto f) { return ReadFileSize(f).has_value(); }},
        {"list_summary", Summary(9, 0, "", "", 0),
         [](auto f) { return ReadListSummary(f).has_value(); }},
    };
}

TEST(ReaderLength, ShortestFrameIsReadAndOneByteLessIsRefused) {
    for (LengthCase const& c : LengthCases()) {
        SCOPED_TRACE(c.name);
        EXPECT_TRUE(c.reads(c.frame));
        // A copy of exactly one byte less, so that a read past it is a read past the allocation.
        Bytes const shorter(c.frame.begin(), c.frame.end() - 1);
        EXPECT_FALSE(c.reads(shorter));
    }
}

TEST(ReaderLength, EmptyFrameIsRefusedByEveryReader) {
    Bytes const empty;
    for (LengthCase const& c : LengthCases()) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(c.reads(empty));
    }
}

TEST(ReadMessageHead, TakesTypeSenderAndKind) {
    Bytes const frame = wire::ServerQuery(0xDEADBEEF, 4);
    auto const head = ReadMessageHead(frame);
    ASSERT_TRUE(head);
    EXPECT_EQ(head->type, 0);
    EXPECT_EQ(head->sourceId, 0xDEADBEEFu);
    EXPECT_EQ(head->kind, kind::ServerQuery);
}

TEST(ReadServerAnnouncement, TakesSenderAndServiceCode) {
    Bytes const frame = wire::Resized(wire::ServerAnnouncement(0x63, kClient, 4), 40);
    auto const announcement = ReadServerAnnouncement(frame);
    ASSERT_TRUE(announcement);
    EXPECT_EQ(announcement->address.sourceId, 0x63u);
    EXPECT_EQ(announcement->serviceCode, 4);
}

TEST(ReadFileDescription, TakesEveryField) {
    Bytes const frame = Description({.sender = 0x63,
                                     .action = 2,
                                     .fileToken = 0xCAFE0001,
                                     .localPath = "sub\\dir\\file.bin",
                                     .remoteName = "remote/file.bin",
                                     .crc = 0xCBF43926});
    auto const description = ReadFileDescription(frame);
    ASSERT_TRUE(description);
    EXPECT_EQ(description->address.sourceId, 0x63u);
    EXPECT_EQ(description->action, 2);
    EXPECT_EQ(description->fileToken, 0xCAFE0001u);
    EXPECT_EQ(FieldText(description->localPath), "sub\\dir\\file.bin");
    EXPECT_EQ(description->localPath.data(), frame.data() + 23);
    EXPECT_EQ(FieldText(description->remoteName), "remote/file.bin");
    EXPECT_EQ(description->remoteName.data(), frame.data() + 87);
    EXPECT_EQ(description->crc, 0xCBF43926u);
}

TEST(ReadFileDescription, UnterminatedTextsStayWithinTheirFields) {
    std::string const path(64, 'p');
    std::string const remote(400, 'r');
    Bytes const frame =
        Description({.sender = 1, .localPath = path, .remoteName = remote, .crc = 0x41424344});
    auto const description = ReadFileDescription(frame);
    ASSERT_TRUE(description);
    EXPECT_EQ(FieldText(description->localPath), path);
    EXPECT_EQ(FieldText(description->remoteName), remote);
}

TEST(ReadDataChunk, DataLengthDecidesTheData) {
    struct Case {
        char const* name;
        std::size_t frameSize;
        std::uint16_t length;
        bool valid;
    };
    Case const cases[] = {
        {"end of file", 21, 0, true},
        {"full chunk", 2048, 2027, true},
        {"frame longer than the data", 40, 5, true},
        {"one byte past the frame", 26, 6, false},
        {"far past the frame", 21, 0xFFFF, false},
        {"largest frame, length beyond it", 2051, 2031, false},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes const frame = wire::DataChunkClaiming(0x63, kClient, 2, c.length, c.frameSize - 21);
        auto const chunk = ReadDataChunk(frame);
        ASSERT_EQ(chunk.has_value(), c.valid);
        if (!c.valid) {
            continue;
        }
        EXPECT_EQ(chunk->address.sourceId, 0x63u);
        EXPECT_EQ(chunk->chunkIndex, 2u);
        EXPECT_EQ(chunk->data.size(), c.length);
        EXPECT_EQ(chunk->data.data(), frame.data() + 21);
    }
}

TEST(ReadFileSize, TakesNameAndSize) {
    Bytes const frame = wire::FileSize(1, kClient, "sub/dir/file.bin", 5000);
    auto const size = ReadFileSize(frame);
    ASSERT_TRUE(size);
    EXPECT_EQ(FieldText(size->fileName), "sub/dir/file.bin");
    EXPECT_EQ(size->size, 5000u);
}

TEST(ReadFileSize, UnterminatedNameEndsBeforeTheSize) {
    std::string const name(600, 'n');
    Bytes const frame = wire::FileSize(1, kClient, name, 0x53535353);
    auto const size = ReadFileSize(frame);
    ASSERT_TRUE(size);
    EXPECT_EQ(FieldText(size->fileName), name);
}

TEST(ReadListSummary, TakesEveryField) {
    Bytes const frame = Summary(1, 0xFFFFFFFE, "quillmesh.ini", "maps.ini", 1);
    auto const summary = ReadListSummary(frame);
    ASSERT_TRUE(summary);
    EXPECT_EQ(summary->listCrc, 0xFFFFFFFEu);
    EXPECT_EQ(FieldText(summary->listKey), "quillmesh.ini");
    EXPECT_EQ(summary->nextList.data(), frame.data() + 83);
    EXPECT_EQ(summary->complete, 1);
}

TEST(ReadListSummary, CompletionNeedsExactlyOne) {
    for (int flag : {0, 2, 0xFF}) {
        SCOPED_TRACE(flag);
        Bytes const frame = Summary(1, 0, "", "", static_cast<std::uint8_t>(flag));
        auto const summary = ReadListSummary(frame);
        ASSERT_TRUE(summary);
        EXPECT_NE(summary->complete, 1);
    }
}

TEST(ReadListSummary, UnterminatedKeyStaysWithinItsField) {
    std::string const key(64, 'k');
    Bytes const frame = Summary(1, 0, key, "next", 0);
    auto const summary = ReadListSummary(frame);
    ASSERT_TRUE(summary);
    EXPECT_EQ(FieldText(summary->listKey), key);
}

}  // namespace
}  // namespace qm::update
