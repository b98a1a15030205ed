#include "update/checksum_record.h"

#include <gtest/gtest.h>

#include "support/temp_dir.h"

namespace qm::update {
namespace {

using qm::test::ReadFile;
using qm::test::TempDir;

TEST(ChecksumRecord, RoundTripsAsUnsignedDecimal) {
    TempDir dir;
    EXPECT_EQ(RecordedListChecksum("quillmesh.ini"), 0u);
    ASSERT_TRUE(RecordListChecksum("quillmesh.ini", 0xCBF43926u));
    EXPECT_EQ(ReadFile("crc.ini"), "[GLOBAL_CRC]\nquillmesh.ini=3421780262\n");
    EXPECT_EQ(RecordedListChecksum("quillmesh.ini"), 0xCBF43926u);
    ASSERT_TRUE(RecordListChecksum("data.ini", 0xFFFFFFFFu));
    EXPECT_EQ(RecordedListChecksum("data.ini"), 4294967295u);
    EXPECT_EQ(RecordedListChecksum("quillmesh.ini"), 0xCBF43926u);
}

TEST(ChecksumRecord, NamesThatWouldBreakTheFileAreNotKeys) {
    TempDir dir;
    ASSERT_TRUE(RecordListChecksum("good.ini", 1));
    std::string const before = ReadFile("crc.ini");
    for (std::string name :
         std::vector<std::string>{"a=b", "a\nb", "a\rb", "[GENERAL]", ";comment", "", " padded",
                                  "padded ", std::string("a\0b", 3),
                                  // Every blank the file's reader trims, at either end.
                                  "\vpadded", "padded\f", "\rpadded", "padded\t"}) {
        EXPECT_FALSE(IsRecordableListName(name)) << name;
        EXPECT_TRUE(RecordListChecksum(name, 7)) << name;
        EXPECT_EQ(RecordedListChecksum(name), 0u) << name;
    }
    EXPECT_EQ(ReadFile("crc.ini"), before);
}

TEST(ChecksumRecord, UnwritableFileIsReported) {
    TempDir dir;
    std::filesystem::create_directory("crc.ini");  // a directory where the file should be
    EXPECT_FALSE(RecordListChecksum("quillmesh.ini", 5));
}

}  // namespace
}  // namespace qm::update
