// The test side's own wire code is checked against values known independently of both it and the
// updater, so that an end-to-end failure points at the updater.
#include <gtest/gtest.h>

#include "support/crc32.h"
#include "support/profile_text.h"
#include "support/wire.h"

namespace qm::test {
namespace {

TEST(TestSupport, Crc32CheckValues) {
    EXPECT_EQ(ReferenceCrc32(ToBytes("123456789")), 0xCBF43926u);
    EXPECT_EQ(ReferenceCrc32(Bytes{}), 0u);
    EXPECT_EQ(ReferenceCrc32(Bytes{0x00}), 0xD202EF8Du);
}

TEST(TestSupport, ServerQueryOfTheProtocolExample) {
    Bytes const expected{0x00, 0x13, 0x00, 0x0A, 0x00, 0x00, 0x01, 0xFF, 0xFF, 0xFF,
                         0x00, 0x02, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00};
    EXPECT_EQ(ServerQuery(0x0A000001), expected);
}

TEST(TestSupport, LoginMessageLayout) {
    Bytes const login = LoginMessage(0x0A000001, 0x01020304);
    ASSERT_EQ(login.size(), 279u);
    EXPECT_EQ(Bytes(login.begin(), login.begin() + 19),
              (Bytes{0x01, 0x17, 0x00, 0x0A, 0x00, 0x00, 0x01, 0x01, 0x02, 0x03, 0x04, 0x0C, 0x00,
                     0x00, 0x00, 0x04, 0x03, 0x02, 0x01}));
    EXPECT_EQ(std::string(login.begin() + 19, login.begin() + 28), "FENWARDIX");
    EXPECT_EQ(std::string(login.begin() + 151, login.begin() + 159), "Uploader");
    EXPECT_EQ(std::count(login.begin(), login.end(), 0),
              279 - 30);  // 30 bytes named above are not zero
}

TEST(TestSupport, FrameLengthsOfEveryMessage) {
    EXPECT_EQ(Welcome(1, 2).size(), 151u);
    EXPECT_EQ(ServerAnnouncement(1, 2).size(), 28u);
    EXPECT_EQ(FileDescription({}).size(), 491u);
    EXPECT_EQ(DataChunk(1, 2, 0, Bytes(2027, 1)).size(), 2048u);
    EXPECT_EQ(FileSize(1, 2, "x", 3).size(), 619u);
    EXPECT_EQ(ListSummary(0, 0, 0, "", "", 0).size(), 148u);
    EXPECT_EQ(AckMessage(1, 2, "x", 3).size(), 83u);
    EXPECT_EQ(ChunkRequest(1, 2, 3, "x").size(), 419u);
    EXPECT_EQ(FileRequest(1, 2, "x").size(), 415u);
    EXPECT_EQ(ListRequest(1, 2, "x").size(), 79u);
    Bytes const chunk = DataChunk(1, 2, 0, Bytes(2027, 1));
    EXPECT_EQ(chunk[0], 0x08);
    EXPECT_EQ(chunk[1], 0x00);
}

TEST(TestSupport, ProfileEntryReadsItsSectionOnly) {
    std::string const text = "[OTHER]\nkey=1\r\n[GLOBAL_CRC]\nkey=2\nmore=3\n";
    EXPECT_EQ(ProfileEntry(text, "GLOBAL_CRC", "key"), "2");
    EXPECT_EQ(ProfileEntry(text, "OTHER", "key"), "1");
    EXPECT_EQ(ProfileEntry(text, "GLOBAL_CRC", "none"), std::nullopt);
}

}  // namespace
}  // namespace qm::test
