// The two file passes of the checksum: in turn, and split between two threads, checked against the
// tests' bitwise reference.
#include "checksum/crc32_file_reading.h"

#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <thread>
#include <vector>

#include "checksum/checksum.h"
#include "support/crc32.h"
#include "support/random_bytes.h"
#include "support/skip_without.h"
#include "support/temp_dir_test.h"

namespace qm::checksum {
namespace {

using qm::test::RandomBytes;

using qm::test::ReferenceCrc32;

enum class Pass { kInTurn, kSplit };

std::uint32_t RunPass(Pass pass, std::string const& path, Crc32UpdateFunction update,
                      std::size_t bufferSize) {
    ReadOnlyFile const file(path);
    EXPECT_TRUE(file.IsOpen()) << path;
    if (pass == Pass::kSplit) {
        return Crc32OfFileSplit(file, file.RegularFileSize().value_or(0), update, bufferSize);
    }
    std::vector<std::uint8_t> buffer(bufferSize);
    return Crc32OfFileInTurn(file, buffer, update);
}

class EachPassAndEngine : public qm::test::TempDirTest,
                          public ::testing::WithParamInterface<std::tuple<Pass, Crc32Engine>> {
  protected:
    void SetUp() override {
        if (!Crc32EngineSupported(Engine())) {
            GTEST_SKIP() << Crc32EngineName(Engine()) << " is not supported here";
        }
    }
    Pass ThePass() const { return std::get<0>(GetParam()); }
    Crc32Engine Engine() const { return std::get<1>(GetParam()); }
    Crc32UpdateFunction Update() const { return Crc32UpdateFunctionOf(Engine()); }
};

// Sizes at and around the block and segment sizes, where the passes change blocks: with a
// buffer of 100000 bytes a segment of the split pass is an eighth of the file in whole buffers.
TEST_P(EachPassAndEngine, FilesOfEverySizeAroundTheBlocks) {
    std::mt19937 random(1234);
    std::vector<std::size_t> const sizes = {
        0,      1,      15,     4095,    4096,    65537,   99999,   100000,
        100001, 800000, 800001, 1600000, 1600001, 2399999, 3000000, (9 << 20) + 4321};
    std::vector<std::uint8_t> const pool = RandomBytes(random, sizes.back());
    for (std::size_t const size : sizes) {
        std::span<const std::uint8_t> const bytes(pool.data(), size);
        WriteFile("data.bin", {bytes.begin(), bytes.end()});
        for (std::size_t const buffer : {std::size_t{4096}, std::size_t{100000}}) {
            if (size > (2 << 20) && buffer < 100000) {
                continue;  // small blocks over large files add time, not cases
            }
            ASSERT_EQ(RunPass(ThePass(), "data.bin", Update(), buffer), ReferenceCrc32(bytes))
                << "size " << size << ", buffer " << buffer;
        }
    }
}

TEST_P(EachPassAndEngine, AReadErrorEndsThePassLikeTheEnd) {
    QM_SKIP_WITHOUT(DirectoriesOpenAsFiles);
    std::filesystem::create_directory("folder");
    EXPECT_EQ(RunPass(ThePass(), "folder", Update(), 4096), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Passes, EachPassAndEngine,
    ::testing::Combine(::testing::Values(Pass::kInTurn, Pass::kSplit),
                       ::testing::Values(Crc32Engine::kTable, Crc32Engine::kCarryless,
                                         Crc32Engine::kWideCarryless)),
    [](auto const& test) {
        return std::string(std::get<0>(test.param) == Pass::kInTurn ? "InTurn" : "Split") + "_" +
               Crc32EngineName(std::get<1>(test.param));
    });

// The tests below run once per engine this processor supports.
std::vector<Crc32UpdateFunction> SupportedUpdates() {
    std::vector<Crc32UpdateFunction> updates;
    for (Crc32Engine const engine :
         {Crc32Engine::kTable, Crc32Engine::kCarryless, Crc32Engine::kWideCarryless}) {
        if (Crc32EngineSupported(engine)) {
            updates.push_back(Crc32UpdateFunctionOf(engine));
        }
    }
    return updates;
}

using FilePassTest = qm::test::TempDirTest;

// A pipe delivers short reads of any length; reading in turn must take them as they come. (The
// split pass is only ever used for regular files.)
TEST_F(FilePassTest, InTurnTakesShortReadsFromAPipe) {
    QM_SKIP_WITHOUT(NamedPipes);
    std::mt19937 random(77);
    std::vector<std::uint8_t> const bytes = RandomBytes(random, 3 * kSplitBlockSize + 999);
    for (Crc32UpdateFunction const update : SupportedUpdates()) {
        std::filesystem::remove("pipe");
        ASSERT_TRUE(qm::test::MakeNamedPipe("pipe"));
        std::jthread writer([&] {
            std::ofstream out("pipe", std::ios::binary);
            std::mt19937 pieces(78);
            for (std::size_t at = 0; at < bytes.size();) {
                std::size_t const piece = std::min(
                    bytes.size() - at, std::uniform_int_distribution<std::size_t>(1, 9000)(pieces));
                out.write(reinterpret_cast<char const*>(bytes.data() + at),
                          static_cast<std::streamsize>(piece));
                out.flush();
                at += piece;
            }
        });
        EXPECT_EQ(RunPass(Pass::kInTurn, "pipe", update, 8192), ReferenceCrc32(bytes));
    }
}

// The split pass takes the size from before the pass; a file that grew since is read to its new
// end, one that shrank to its last byte, whatever the size given.
TEST_F(FilePassTest, SplitPassFollowsAFileThatGrewOrShrank) {
    std::mt19937 random(4321);
    std::vector<std::uint8_t> const bytes = RandomBytes(random, 5 * kSplitBlockSize + 333);
    WriteFile("data.bin", {bytes.begin(), bytes.end()});
    for (Crc32UpdateFunction const update : SupportedUpdates()) {
        for (std::uint64_t const assumed :
             {std::uint64_t{0}, std::uint64_t{1000}, std::uint64_t{2 * kSplitBlockSize},
              std::uint64_t{bytes.size() - 1}, std::uint64_t{bytes.size() + 1},
              std::uint64_t{bytes.size() + 3 * kSplitBlockSize},
              std::uint64_t{20 * kSplitBlockSize}}) {
            ReadOnlyFile const file("data.bin");
            EXPECT_EQ(Crc32OfFileSplit(file, assumed, update), ReferenceCrc32(bytes))
                << "assumed size " << assumed;
        }
    }
}

TEST(SplitSegmentSizeTest, AnEighthInWholeBlocksWithinBounds) {
    EXPECT_EQ(SplitSegmentSize(0, 4096), 4096u);
    EXPECT_EQ(SplitSegmentSize(8 * 4096, 4096), 4096u);
    EXPECT_EQ(SplitSegmentSize(8 * 4096 + 8, 4096), 2 * 4096u);
    EXPECT_EQ(SplitSegmentSize(std::uint64_t{80} << 20, 4096), std::uint64_t{4} << 20);
    EXPECT_EQ(SplitSegmentSize(std::uint64_t{1} << 40, 8 << 20), std::uint64_t{8} << 20);
}

TEST(ReadOnlyFileTest, SizeOnlyForRegularFiles) {
    qm::test::TempDir const dir({.enter = false, .prefix = "qm-crc"});
    std::string const directory = dir.path().string();
    std::string const file = directory + "/five.bin";
    ASSERT_TRUE(qm::test::WriteFile(file, "\x01\x02\x03\x04\x05"));
    EXPECT_EQ(ReadOnlyFile(file).RegularFileSize(), std::optional<std::uint64_t>(5));
    EXPECT_EQ(ReadOnlyFile(directory).RegularFileSize(), std::nullopt);
    EXPECT_FALSE(ReadOnlyFile(directory + "/missing").IsOpen());
    ReadOnlyFile const five(file);
    std::vector<std::uint8_t> buffer(8);
    EXPECT_EQ(five.ReadSomeAt(buffer, 3), 2u);
    EXPECT_EQ(buffer[0], 4);
    EXPECT_EQ(five.ReadSomeAt(buffer, 5), 0u);
    EXPECT_TRUE(five.SeekTo(4));
    EXPECT_EQ(five.ReadSome(buffer), 1u);
    EXPECT_EQ(buffer[0], 5);
}

}  // namespace
}  // namespace qm::checksum
