#include "checksum/checksum.h"

#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <thread>
#include <vector>

#include "base/bytes.h"
#include "support/crc32.h"
#include "support/random_bytes.h"
#include "support/skip_without.h"
#include "support/temp_dir_test.h"

namespace qm::checksum {
namespace {

using qm::test::RandomBytes;

using base::AsBytes;

TEST(CrcTableTest, HoldsTheReflectedPolynomialTable) {
    CrcTable const& table = BuildCrcTable();
    EXPECT_EQ(table[0], 0u);
    EXPECT_EQ(table[1], 0x77073096u);
    EXPECT_EQ(table[128], 0xEDB88320u);
    EXPECT_EQ(table[255], 0x2D02EF8Du);
    EXPECT_EQ(&BuildCrcTable(), &table);
    for (std::size_t i = 0; i < table.size(); ++i) {
        std::uint8_t const byte = static_cast<std::uint8_t>(i);
        // Each entry is the register after one byte, starting from a zero register.
        EXPECT_EQ(table[i], qm::test::ReferenceCrc32Update(0, {&byte, 1})) << "entry " << i;
    }
}

TEST(Crc32Test, KnownValues) {
    EXPECT_EQ(Crc32(AsBytes("123456789")), 0xCBF43926u);
    std::uint8_t const zero = 0;
    EXPECT_EQ(Crc32({&zero, 1}), 0xD202EF8Du);
    EXPECT_EQ(Crc32({}), 0u);
    EXPECT_EQ(Crc32(AsBytes("The quick brown fox jumps over the lazy dog")), 0x414FA339u);
}

// Lengths around the width of the table-driven step, start addresses of every alignment, and
// blocks split anywhere must all give the bitwise result.
TEST(Crc32Test, AgreesWithBitwiseReferenceOnRandomBlocks) {
    std::mt19937 random(20240607);
    std::vector<std::uint8_t> const pool = RandomBytes(random, 4096 + 64);
    std::uniform_int_distribution<std::size_t> offset(0, 63);
    std::uniform_int_distribution<std::size_t> shortLength(0, 70);
    std::uniform_int_distribution<std::size_t> longLength(0, 4096);
    for (int round = 0; round < 2000; ++round) {
        std::size_t const length = round % 2 == 0 ? shortLength(random) : longLength(random);
        std::span<const std::uint8_t> const block(pool.data() + offset(random), length);
        std::size_t const split = std::uniform_int_distribution<std::size_t>(0, length)(random);
        std::uint32_t state = Crc32Update(kCrcInitial, block.first(split));
        state = Crc32Update(state, block.subspan(split));
        ASSERT_EQ(Crc32Final(state), qm::test::ReferenceCrc32(block))
            << "round " << round << ", length " << length << ", split " << split;
        ASSERT_EQ(Crc32(block), qm::test::ReferenceCrc32(block)) << "round " << round;
    }
}

using FileCrc32Test = qm::test::TempDirTest;

TEST_F(FileCrc32Test, SmallFiles) {
    WriteFile("check.txt", "123456789");
    WriteFile("zero.bin", std::string(1, '\0'));
    WriteFile("empty.bin", "");
    EXPECT_EQ(FileCrc32("check.txt"), 0xCBF43926u);
    EXPECT_EQ(FileCrc32("zero.bin"), 0xD202EF8Du);
    EXPECT_EQ(FileCrc32("empty.bin"), 0u);
}

TEST_F(FileCrc32Test, UnreadableGivesZero) {
    EXPECT_EQ(FileCrc32("missing.bin"), 0u);
    EXPECT_EQ(FileCrc32(""), 0u);
    std::filesystem::create_directory("folder");
    EXPECT_EQ(FileCrc32("folder"), 0u);  // opens, but the first read fails
}

TEST_F(FileCrc32Test, FileSpanningSeveralReadBlocks) {
    std::mt19937 random(7);
    std::size_t const size = 3 * kFileReadBlockSize + 12345;
    std::vector<std::uint8_t> const bytes = RandomBytes(random, size);
    WriteFile("large.bin", std::string(bytes.begin(), bytes.end()));
    EXPECT_EQ(FileCrc32("large.bin"), qm::test::ReferenceCrc32(bytes));
}

// Large files are split between two threads; small and mid-sized ones are read in turn. Sizes
// on both sides of the switch, and odd ones, give the bitwise result.
TEST_F(FileCrc32Test, FilesOnBothSidesOfTheSplitReading) {
    std::mt19937 random(11);
    std::vector<std::uint8_t> const bytes = RandomBytes(random, (9 << 20) + 4321);
    for (std::size_t const size :
         {std::size_t{1} << 20, (std::size_t{4} << 20) - 1, std::size_t{4} << 20, bytes.size()}) {
        std::span<const std::uint8_t> const file(bytes.data(), size);
        WriteFile("big.bin", std::string(file.begin(), file.end()));
        ASSERT_EQ(FileCrc32("big.bin"), qm::test::ReferenceCrc32(file)) << "size " << size;
    }
}

// Small files are read on the stack first, mid-sized ones on in 64 KiB blocks; sizes around that
// first read and the read blocks.
TEST_F(FileCrc32Test, FilesAroundTheFirstReadAndTheBlocks) {
    std::mt19937 random(13);
    std::vector<std::uint8_t> const bytes = RandomBytes(random, 3 * kFileReadBlockSize);
    for (std::size_t const size :
         {std::size_t{16383}, std::size_t{16384}, std::size_t{16385}, std::size_t{32768},
          std::size_t{32769}, std::size_t{81919}, std::size_t{81920}, std::size_t{81921},
          std::size_t{147457}, kFileReadBlockSize - 1, kFileReadBlockSize, kFileReadBlockSize + 1,
          kFileReadBlockSize + 16384, 3 * kFileReadBlockSize}) {
        std::span<const std::uint8_t> const file(bytes.data(), size);
        WriteFile("mid.bin", std::string(file.begin(), file.end()));
        ASSERT_EQ(FileCrc32("mid.bin"), qm::test::ReferenceCrc32(file)) << "size " << size;
    }
}

// A pipe has no size and delivers short reads; its checksum is that of all bytes written to it.
TEST_F(FileCrc32Test, APipeIsReadToItsEnd) {
    QM_SKIP_WITHOUT(NamedPipes);
    ASSERT_TRUE(qm::test::MakeNamedPipe("pipe"));
    std::mt19937 random(14);
    std::vector<std::uint8_t> const bytes = RandomBytes(random, 100000);
    std::jthread writer([&] {
        std::ofstream out("pipe", std::ios::binary);
        for (std::size_t at = 0; at < bytes.size(); at += 3000) {
            out.write(reinterpret_cast<char const*>(bytes.data() + at),
                      static_cast<std::streamsize>(std::min<std::size_t>(3000, bytes.size() - at)));
            out.flush();
        }
    });
    EXPECT_EQ(FileCrc32("pipe"), qm::test::ReferenceCrc32(bytes));
}

// Checksums of many files one after the other, as the session takes them, each its own.
TEST_F(FileCrc32Test, ManySmallFilesEachGetTheirOwnChecksum) {
    std::mt19937 random(12);
    for (int i = 0; i < 200; ++i) {
        std::size_t const size = std::uniform_int_distribution<std::size_t>(0, 9000)(random);
        std::vector<std::uint8_t> const bytes = RandomBytes(random, size);
        std::string const name = "small" + std::to_string(i);
        WriteFile(name, std::string(bytes.begin(), bytes.end()));
        ASSERT_EQ(FileCrc32(name), qm::test::ReferenceCrc32(bytes)) << name << ", size " << size;
    }
}

}  // namespace
}  // namespace qm::checksum
