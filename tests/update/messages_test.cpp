// The updater's six requests are written and compared byte for byte with layouts written out
// here; the readers of the server's replies are fed frames of exactly their size, so a read past
// the frame shows up under the sanitizers as well as in the results.
#include "update/messages.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace qm::update {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A stretch of bytes at an offset of an otherwise all-zero frame.
struct Run {
    std::size_t at;
    Bytes bytes;
};

Bytes Text(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

Bytes Repeat(std::size_t count, std::uint8_t value) {
    return Bytes(count, value);
}

Bytes Layout(std::size_t size, std::vector<Run> const& runs) {
    Bytes frame(size, 0);
    for (Run const& run : runs) {
        std::copy(run.bytes.begin(), run.bytes.end(), frame.begin() + static_cast<long>(run.at));
    }
    return frame;
}

// Collects what the writers append.
class Written : public ::testing::Test {
  protected:
    Bytes Sent() const { return {out.begin(), out.end()}; }

    base::ByteBuffer out;
};

TEST_F(Written, ServerQueryIsNineteenBytes) {
    Append(out, ServerQuery{{0x0A000001, kServerQueryDestination}, 4});
    Bytes const expected{0x00, 0x13, 0x00, 0x0A, 0x00, 0x00, 0x01, 0xFF, 0xFF, 0xFF,
                         0x00, 0x02, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00};
    EXPECT_EQ(Sent(), expected);
}

TEST_F(Written, LoginMessageEchoesThePeerIdLittleEndian) {
    Append(out, LoginMessage{{0x0A000001, 0x01020304},
                             0x01020304,
                             base::AsBytes("FENWARDIX"),
                             base::AsBytes("Uploader")});
    Bytes const expected = Layout(279, {{0, {0x01, 0x17, 0x00}},
                                        {3, {0x0A, 0x00, 0x00, 0x01}},
                                        {7, {0x01, 0x02, 0x03, 0x04}},
                                        {11, {0x0C}},
                                        {15, {0x04, 0x03, 0x02, 0x01}},
                                        {19, Text("FENWARDIX")},
                                        {151, Text("Uploader")}});
    EXPECT_EQ(Sent(), expected);
}

TEST_F(Written, LoginTextsLongerThanTheirFieldsAreCut) {
    std::string const word(40, 'W');
    std::string const name(130, 'N');
    Append(out, LoginMessage{{1, 2}, 2, base::AsBytes(word), base::AsBytes(name)});
    Bytes const expected = Layout(279, {{0, {0x01, 0x17, 0x00}},
                                        {3, {0x00, 0x00, 0x00, 0x01}},
                                        {7, {0x00, 0x00, 0x00, 0x02}},
                                        {11, {0x0C}},
                                        {15, {0x02, 0x00, 0x00, 0x00}},
                                        {19, Repeat(32, 'W')},
                                        {151, Repeat(128, 'N')}});
    EXPECT_EQ(Sent(), expected);
}

TEST_F(Written, AckMessageCarriesListNameAndToken) {
    Append(out, AckMessage{{0x0A000001, 0x00000007}, base::AsBytes("quillmesh.ini"), 0x11223344});
    Bytes const expected = Layout(83, {{0, {0x00, 0x53, 0x04}},
                                       {3, {0x0A, 0x00, 0x00, 0x01}},
                                       {7, {0x00, 0x00, 0x00, 0x07}},
                                       {11, {0x00}},
                                       {15, Text("quillmesh.ini")},
                                       {79, {0x11, 0x22, 0x33, 0x44}}});
    EXPECT_EQ(Sent(), expected);
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
    Append(out, AckMessage{{0x0A000001, 0x00000007}, base::AsBytes(FieldText(name)), 0});
    Bytes const expected = Layout(83, {{0, {0x00, 0x53, 0x04}},
                                       {3, {0x0A, 0x00, 0x00, 0x01}},
                                       {7, {0x00, 0x00, 0x00, 0x07}},
                                       {15, Text("maps.ini")}});
    EXPECT_EQ(Sent(), expected);
}

TEST_F(Written, ListRequestBlockCopyKeepsWhatFollowsTheName) {
    ListNameField const name = NameWithLeftovers();
    Append(out, ListRequest{{0x0A000001, 0x00000007}, name});
    Bytes const expected = Layout(79, {{0, {0x00, 0x4F, 0x04}},
                                       {3, {0x0A, 0x00, 0x00, 0x01}},
                                       {7, {0x00, 0x00, 0x00, 0x07}},
                                       {11, {0x06}},
                                       {15, Text("maps.ini")},
                                       {24, Repeat(55, 0x5A)}});
    EXPECT_EQ(Sent(), expected);
}

TEST_F(Written, SixtyFourCharacterNameFillsBothListFieldsWithoutTerminator) {
    std::string const name(64, 'L');
    ListNameField const field = MakeListName(name);
    Append(out, AckMessage{{0x0A000001, 0x00000007}, base::AsBytes(FieldText(field)), 0x01020304});
    Append(out, ListRequest{{0x0A000001, 0x00000007}, field});
    Bytes expected = Layout(83, {{0, {0x00, 0x53, 0x04}},
                                 {3, {0x0A, 0x00, 0x00, 0x01}},
                                 {7, {0x00, 0x00, 0x00, 0x07}},
                                 {15, Repeat(64, 'L')},
                                 {79, {0x01, 0x02, 0x03, 0x04}}});
    Bytes const request = Layout(79, {{0, {0x00, 0x4F, 0x04}},
                                      {3, {0x0A, 0x00, 0x00, 0x01}},
                                      {7, {0x00, 0x00, 0x00, 0x07}},
                                      {11, {0x06}},
                                      {15, Repeat(64, 'L')}});
    expected.insert(expected.end(), request.begin(), request.end());
    EXPECT_EQ(Sent(), expected);
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
    Append(out, ChunkRequest{{0x0A000001, 0xC0A80001}, 0x00000102, remote});
    Bytes const expected = Layout(419, {{0, {0x01, 0xA3, 0x04}},
                                        {3, {0x0A, 0x00, 0x00, 0x01}},
                                        {7, {0xC0, 0xA8, 0x00, 0x01}},
                                        {11, {0x02}},
                                        {15, {0x00, 0x00, 0x01, 0x02}},
                                        {19, Bytes(remote.begin(), remote.end())}});
    EXPECT_EQ(Sent(), expected);
}

TEST_F(Written, FileRequestCopiesTheRemoteNameBlockAsItStands) {
    RemoteNameField const remote = RemoteNameBlock();
    Append(out, FileRequest{{0x0A000001, 0x00000007}, remote});
    Bytes const expected = Layout(415, {{0, {0x01, 0x9F, 0x04}},
                                        {3, {0x0A, 0x00, 0x00, 0x01}},
                                        {7, {0x00, 0x00, 0x00, 0x07}},
                                        {11, {0x04}},
                                        {15, Bytes(remote.begin(), remote.end())}});
    EXPECT_EQ(Sent(), expected);
}

// Frames are appended whole behind what is already there, which stays as it was.
TEST_F(Written, EveryWriterAppendsOneWholeFrameBehindTheOthers) {
    out.assign(3, 0xEE);
    Append(out, ServerQuery{{1, kServerQueryDestination}, 4});
    Append(out, ListRequest{{1, 2}, base::AsBytes("a.ini")});
    ASSERT_EQ(out.size(), 3u + 19 + 79);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 3), Repeat(3, 0xEE));
    EXPECT_EQ(Bytes(out.begin() + 3, out.begin() + 6), (Bytes{0x00, 0x13, 0x00}));
    EXPECT_EQ(Bytes(out.begin() + 22, out.begin() + 25), (Bytes{0x00, 0x4F, 0x04}));
}

// The address block: both ids big-endian, the kind, then three zero bytes.
TEST(AddressBlock, WritesIdsAndKindAndZerosAfterIt) {
    base::ByteBuffer out;
    Append(out, DataChunk{{0x01020304, 0xA0B0C0D0}, 0, {}});
    Bytes const expected{0x00, 0x15, 0x04, 0x01, 0x02, 0x03, 0x04, 0xA0,
                         0xB0, 0xC0, 0xD0, 0x03, 0x00, 0x00, 0x00, 0x00};
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 16), expected);
}

TEST(ListName, TextCopyIsCutToSixtyFourBytes) {
    ListNameField const field = MakeListName(std::string(70, 'x') + "tail");
    EXPECT_EQ(Bytes(field.begin(), field.end()), Repeat(64, 'x'));
    EXPECT_EQ(FieldText(field), std::string(64, 'x'));
}

TEST(ListName, ShortNameIsZeroPadded) {
    ListNameField const field = MakeListName("quillmesh.ini");
    EXPECT_EQ(Bytes(field.begin(), field.end()), Layout(64, {{0, Text("quillmesh.ini")}}));
    EXPECT_EQ(FieldText(field), "quillmesh.ini");
}

// ---- Readers -------------------------------------------------------------------------------

// A received frame of exactly `size` bytes with its header, address block and the given runs.
Bytes Received(std::size_t size, std::uint8_t type, std::uint32_t source, std::uint8_t kindByte,
               std::vector<Run> runs) {
    runs.push_back(
        {0, {static_cast<std::uint8_t>(size >> 8), static_cast<std::uint8_t>(size), type}});
    runs.push_back(
        {3,
         {static_cast<std::uint8_t>(source >> 24), static_cast<std::uint8_t>(source >> 16),
          static_cast<std::uint8_t>(source >> 8), static_cast<std::uint8_t>(source)}});
    runs.push_back({7, {0x0A, 0x00, 0x00, 0x01}});
    runs.push_back({11, {kindByte}});
    return Layout(size, runs);
}

// Each reader accepts a frame that just holds the last field it reads and refuses one byte less.
struct LengthCase {
    char const* name;
    Bytes frame;  // the shortest valid frame
    std::function<bool(std::span<const std::uint8_t>)> reads;
};

std::vector<LengthCase> LengthCases() {
    return {
        {"head", Received(15, 4, 9, 1, {}), [](auto f) { return ReadMessageHead(f).has_value(); }},
        {"announcement", Received(28, 0, 9, 3, {{27, {4}}}),
         [](auto f) { return ReadServerAnnouncement(f).has_value(); }},
        {"file_description", Received(491, 4, 9, 1, {}),
         [](auto f) { return ReadFileDescription(f).has_value(); }},
        {"empty_data_chunk", Received(21, 4, 9, 3, {}),
         [](auto f) { return ReadDataChunk(f).has_value(); }},
        {"data_chunk", Received(24, 4, 9, 3, {{19, {0x00, 0x03}}}),
         [](auto f) { return ReadDataChunk(f).has_value(); }},
        {"file_size", Received(619, 4, 9, 5, {}),
         [](auto f) { return ReadFileSize(f).has_value(); }},
        {"list_summary", Received(148, 4, 9, 7, {}),
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
    Bytes const frame = Received(19, 0, 0xDEADBEEF, 3, {});
    auto const head = ReadMessageHead(frame);
    ASSERT_TRUE(head);
    EXPECT_EQ(head->type, 0);
    EXPECT_EQ(head->sourceId, 0xDEADBEEFu);
    EXPECT_EQ(head->kind, 3);
}

TEST(ReadServerAnnouncement, TakesSenderAndServiceCode) {
    Bytes const frame = Received(40, 0, 0x00000063, 3, {{27, {4}}});
    auto const announcement = ReadServerAnnouncement(frame);
    ASSERT_TRUE(announcement);
    EXPECT_EQ(announcement->address.sourceId, 0x63u);
    EXPECT_EQ(announcement->serviceCode, 4);
}

TEST(ReadFileDescription, TakesEveryField) {
    Bytes const frame = Received(491, 4, 0x00000063, 1,
                                 {{15, {2}},
                                  {19, {0xCA, 0xFE, 0x00, 0x01}},
                                  {23, Text("sub\\dir\\file.bin")},
                                  {87, Text("remote/file.bin")},
                                  {487, {0xCB, 0xF4, 0x39, 0x26}}});
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
    Bytes const frame =
        Received(491, 4, 1, 1,
                 {{23, Repeat(64, 'p')}, {87, Repeat(400, 'r')}, {487, {0x41, 0x42, 0x43, 0x44}}});
    auto const description = ReadFileDescription(frame);
    ASSERT_TRUE(description);
    EXPECT_EQ(FieldText(description->localPath), std::string(64, 'p'));
    EXPECT_EQ(FieldText(description->remoteName), std::string(400, 'r'));
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
        Bytes frame = Received(
            c.frameSize, 4, 0x00000063, 3,
            {{15, {0x00, 0x00, 0x00, 0x02}},
             {19,
              {static_cast<std::uint8_t>(c.length >> 8), static_cast<std::uint8_t>(c.length)}}});
        for (std::size_t i = 21; i < frame.size(); ++i) {
            frame[i] = static_cast<std::uint8_t>(i);
        }
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
    Bytes const frame =
        Received(619, 4, 1, 5, {{15, Text("sub/dir/file.bin")}, {615, {0x00, 0x00, 0x13, 0x88}}});
    auto const size = ReadFileSize(frame);
    ASSERT_TRUE(size);
    EXPECT_EQ(FieldText(size->fileName), "sub/dir/file.bin");
    EXPECT_EQ(size->size, 5000u);
}

TEST(ReadFileSize, UnterminatedNameEndsBeforeTheSize) {
    Bytes const frame =
        Received(619, 4, 1, 5, {{15, Repeat(600, 'n')}, {615, {'S', 'S', 'S', 'S'}}});
    auto const size = ReadFileSize(frame);
    ASSERT_TRUE(size);
    EXPECT_EQ(FieldText(size->fileName), std::string(600, 'n'));
}

TEST(ReadListSummary, TakesEveryField) {
    Bytes const frame = Received(148, 4, 1, 7,
                                 {{15, {0xFF, 0xFF, 0xFF, 0xFE}},
                                  {19, Text("quillmesh.ini")},
                                  {83, Text("maps.ini")},
                                  {147, {1}}});
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
        Bytes const frame = Received(148, 4, 1, 7, {{147, {static_cast<std::uint8_t>(flag)}}});
        auto const summary = ReadListSummary(frame);
        ASSERT_TRUE(summary);
        EXPECT_NE(summary->complete, 1);
    }
}

TEST(ReadListSummary, UnterminatedKeyStaysWithinItsField) {
    Bytes const frame = Received(148, 4, 1, 7, {{19, Repeat(64, 'k')}, {83, Text("next")}});
    auto const summary = ReadListSummary(frame);
    ASSERT_TRUE(summary);
    EXPECT_EQ(FieldText(summary->listKey), std::string(64, 'k'));
}

}  // namespace
}  // namespace qm::update
