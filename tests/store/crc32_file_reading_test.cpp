// The two file passes of the checksum and the block ring between the reading thread and the
// checksumming thread. The table engine, tested against the bitwise reference elsewhere, is the
// reference for the bytes read here.
#include "store/crc32_file_reading.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <random>
#include <thread>
#include <vector>

#include "store/checksum.h"
#include "store/crc32_block_ring.h"
#include "store/crc32_table.h"
#include "store/scratch_directory.h"

namespace qm::store {
namespace {

std::vector<std::uint8_t> RandomBytes(std::mt19937& random, std::size_t count) {
    std::uniform_int_distribution<int> byte(0, 255);
    std::vector<std::uint8_t> bytes(count);
    for (auto& b : bytes) {
        b = static_cast<std::uint8_t>(byte(random));
    }
    return bytes;
}

std::uint32_t ReferenceCrc32(std::span<const std::uint8_t> bytes) {
    return Crc32Final(Crc32TableUpdate(kCrcInitial, bytes));
}

void WriteBytes(std::string const& path, std::vector<std::uint8_t> const& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<char const*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << path;
}

// The byte at `index` of block number `sequence`, so the consumer can check every byte.
std::uint8_t PatternByte(std::uint32_t sequence, std::size_t index) {
    return static_cast<std::uint8_t>(sequence * 131u + index * 7u + (index >> 8));
}

TEST(BlockRingTest, HandsOverEveryBlockInOrderWithItsBytes) {
    for (std::size_t const blockCount : {std::size_t{1}, std::size_t{2}, std::size_t{8}}) {
        constexpr std::size_t kBlockSize = 1024;
        constexpr std::uint32_t kBlocks = 5000;
        BlockRing ring(blockCount, kBlockSize);
        std::mt19937 random(static_cast<unsigned>(blockCount));
        std::vector<std::size_t> sizes(kBlocks);
        for (auto& size : sizes) {
            size = std::uniform_int_distribution<std::size_t>(1, kBlockSize)(random);
        }
        std::jthread producer([&] {
            for (std::uint32_t sequence = 0; sequence < kBlocks; ++sequence) {
                std::span<std::uint8_t> const block = ring.AwaitFreeBlock();
                ASSERT_EQ(block.size(), kBlockSize);
                for (std::size_t i = 0; i < sizes[sequence]; ++i) {
                    block[i] = PatternByte(sequence, i);
                }
                ring.Publish(sizes[sequence]);
            }
            ring.AwaitFreeBlock();
            ring.Publish(0);
        });
        std::uint32_t sequence = 0;
        for (auto block = ring.AwaitPublishedBlock(); !block.empty();
             block = ring.AwaitPublishedBlock()) {
            ASSERT_LT(sequence, kBlocks);
            ASSERT_EQ(block.size(), sizes[sequence]) << "block " << sequence;
            // A producer that overwrote a block before its release would break the pattern.
            if (sequence % 97 == 0) {
                std::this_thread::yield();
            }
            for (std::size_t i = 0; i < block.size(); ++i) {
                ASSERT_EQ(block[i], PatternByte(sequence, i))
                    << "block " << sequence << " byte " << i << ", ring of " << blockCount;
            }
            ring.Release();
            ++sequence;
        }
        EXPECT_EQ(sequence, kBlocks);
    }
}

TEST(BlockRingTest, BlocksAreDistinctAndInRingOrder) {
    BlockRing ring(4, 64);
    std::vector<std::uint8_t*> seen;
    for (int i = 0; i < 4; ++i) {
        seen.push_back(ring.AwaitFreeBlock().data());
        ring.Publish(1);
    }
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(ring.AwaitPublishedBlock().data(), seen[static_cast<std::size_t>(i)]);
        ring.Release();
    }
    EXPECT_EQ(ring.AwaitFreeBlock().data(), seen[0]);
    for (std::size_t i = 1; i < seen.size(); ++i) {
        EXPECT_EQ(seen[i] - seen[i - 1], 64);
    }
}

enum class Pass { kInTurn, kOverlapped };

std::uint32_t RunPass(Pass pass, std::string const& path, Crc32UpdateFunction update,
                      std::size_t bufferSize) {
    ReadOnlyFile const file(path);
    EXPECT_TRUE(file.IsOpen()) << path;
    if (pass == Pass::kOverlapped) {
        return Crc32OfFileOverlapped(file, update);
    }
    std::vector<std::uint8_t> buffer(bufferSize);
    return Crc32OfFileInTurn(file, buffer, update);
}

class EachPassAndEngine : public store::testing::ScratchDirectory,
                          public ::testing::WithParamInterface<std::tuple<Pass, Crc32Engine>> {
  protected:
    void SetUp() override {
        ScratchDirectory::SetUp();
        if (!Crc32EngineSupported(Engine())) {
            GTEST_SKIP() << Crc32EngineName(Engine()) << " is not supported here";
        }
    }
    Pass ThePass() const { return std::get<0>(GetParam()); }
    Crc32Engine Engine() const { return std::get<1>(GetParam()); }
    Crc32UpdateFunction Update() const { return Crc32UpdateFunctionOf(Engine()); }
};

// Sizes at and around the block sizes and the ring, where the passes change blocks.
TEST_P(EachPassAndEngine, FilesOfEverySizeAroundTheBlocks) {
    std::mt19937 random(1234);
    std::size_t const ring = kOverlapBlockSize * kOverlapBlockCount;
    std::vector<std::size_t> const sizes = {0,
                                            1,
                                            15,
                                            4095,
                                            4096,
                                            65537,
                                            kOverlapBlockSize - 1,
                                            kOverlapBlockSize,
                                            kOverlapBlockSize + 1,
                                            ring - 1,
                                            ring,
                                            ring + 1,
                                            3 * ring + 12345};
    std::vector<std::uint8_t> const pool = RandomBytes(random, sizes.back());
    for (std::size_t const size : sizes) {
        std::span<const std::uint8_t> const bytes(pool.data(), size);
        WriteBytes("data.bin", {bytes.begin(), bytes.end()});
        for (std::size_t const buffer : {std::size_t{4096}, std::size_t{100000}}) {
            ASSERT_EQ(RunPass(ThePass(), "data.bin", Update(), buffer), ReferenceCrc32(bytes))
                << "size " << size << ", buffer " << buffer;
        }
    }
}

// A pipe delivers short reads of any length; both passes must take them as they come.
TEST_P(EachPassAndEngine, ShortReadsFromAPipe) {
    ASSERT_EQ(::mkfifo("pipe", 0600), 0);
    std::mt19937 random(77);
    std::vector<std::uint8_t> const bytes = RandomBytes(random, 3 * kOverlapBlockSize + 999);
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
    EXPECT_EQ(RunPass(ThePass(), "pipe", Update(), 8192), ReferenceCrc32(bytes));
}

TEST_P(EachPassAndEngine, AReadErrorEndsThePassLikeTheEnd) {
    std::filesystem::create_directory("folder");
    EXPECT_EQ(RunPass(ThePass(), "folder", Update(), 4096), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Passes, EachPassAndEngine,
    ::testing::Combine(::testing::Values(Pass::kInTurn, Pass::kOverlapped),
                       ::testing::Values(Crc32Engine::kTable, Crc32Engine::kCarryless,
                                         Crc32Engine::kWideCarryless)),
    [](auto const& test) {
        return std::string(std::get<0>(test.param) == Pass::kInTurn ? "InTurn" : "Overlapped") +
               "_" + Crc32EngineName(std::get<1>(test.param));
    });

TEST(ReadOnlyFileTest, SizeOnlyForRegularFiles) {
    std::string directory = (std::filesystem::temp_directory_path() / "qm-crc-XXXXXX").string();
    ASSERT_NE(::mkdtemp(directory.data()), nullptr);
    std::string const file = directory + "/five.bin";
    WriteBytes(file, {1, 2, 3, 4, 5});
    EXPECT_EQ(ReadOnlyFile(file).RegularFileSize(), std::optional<std::uint64_t>(5));
    EXPECT_EQ(ReadOnlyFile(directory).RegularFileSize(), std::nullopt);
    EXPECT_FALSE(ReadOnlyFile(directory + "/missing").IsOpen());
    std::filesystem::remove_all(directory);
}

}  // namespace
}  // namespace qm::store
