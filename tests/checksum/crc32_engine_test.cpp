// Every CRC-32 engine against a bitwise reference, each one forced explicitly, so the table
// method stays tested on processors that have the carry-less instructions; and the folding
// constants against their defining property, computed here without those instructions.
#include "checksum/crc32_engine.h"

#include <gtest/gtest.h>

#include <array>
#include <random>
#include <utility>
#include <vector>

#include "checksum/crc32_fold_constants.h"
#include "checksum/crc32_polynomial.h"
#include "checksum/crc32_table.h"
#include "support/crc32.h"
#include "support/random_bytes.h"

namespace qm::checksum {
namespace {

using qm::test::RandomBytes;

TEST(Crc32PolynomialTest, PowersOfXAreTheRegisterAfterOneSetBit) {
    // A message whose only set bit is bit j of byte 0, followed by k zero bytes, is the
    // polynomial x^(8k+7-j); its register from zero is that times x^32 modulo the generator.
    for (unsigned exponent = 0; exponent < 32; ++exponent) {
        EXPECT_EQ(PowerOfXModGenerator(exponent), 1u << exponent);
    }
    for (std::size_t zeros = 0; zeros < 160; ++zeros) {
        for (unsigned bit = 0; bit < 8; ++bit) {
            std::vector<std::uint8_t> message(1 + zeros, 0);
            message[0] = static_cast<std::uint8_t>(1u << bit);
            unsigned const exponent = static_cast<unsigned>(8 * zeros + 7 - bit + 32);
            ASSERT_EQ(ReflectedPowerOfX(exponent), qm::test::ReferenceCrc32Update(0, message))
                << "x^" << exponent;
        }
    }
}

// Carry-less product of two 64-bit values as low and high 64-bit halves, bit by bit.
std::pair<std::uint64_t, std::uint64_t> CarrylessProduct(std::uint64_t a, std::uint64_t b) {
    std::uint64_t low = 0;
    std::uint64_t high = 0;
    for (unsigned bit = 0; bit < 64; ++bit) {
        if (((b >> bit) & 1u) != 0) {
            low ^= a << bit;
            high ^= bit == 0 ? 0 : a >> (64 - bit);
        }
    }
    return {low, high};
}

std::uint64_t LoadLittleEndian64(std::uint8_t const* bytes) {
    std::uint64_t value = 0;
    for (int i = 7; i >= 0; --i) {
        value = value << 8 | bytes[i];
    }
    return value;
}

void StoreLittleEndian64(std::uint64_t value, std::uint8_t* bytes) {
    for (int i = 0; i < 8; ++i) {
        bytes[i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

// A block folded over `distanceBits` and added to the block there must leave the register
// exactly as the original message does: block, zeros, block.
template <unsigned kDistanceBits>
void ExpectFoldKeepsTheRegister(std::mt19937& random) {
    FoldConstants const constants = FoldConstantsFor<kDistanceBits>();
    std::size_t const distance = kDistanceBits / 8;
    for (int round = 0; round < 50; ++round) {
        std::vector<std::uint8_t> message = RandomBytes(random, distance + 16);
        std::fill(message.begin() + 16, message.begin() + static_cast<std::ptrdiff_t>(distance),
                  std::uint8_t{0});
        auto const [lowLow, lowHigh] =
            CarrylessProduct(LoadLittleEndian64(message.data()), constants.forLowHalf);
        auto const [highLow, highHigh] =
            CarrylessProduct(LoadLittleEndian64(message.data() + 8), constants.forHighHalf);
        std::array<std::uint8_t, 16> folded{};
        StoreLittleEndian64(lowLow ^ highLow, folded.data());
        StoreLittleEndian64(lowHigh ^ highHigh, folded.data() + 8);
        for (std::size_t i = 0; i < 16; ++i) {
            folded[i] ^= message[distance + i];
        }
        ASSERT_EQ(qm::test::ReferenceCrc32Update(0, folded),
                  qm::test::ReferenceCrc32Update(0, message))
            << "distance " << kDistanceBits << " round " << round;
    }
}

TEST(Crc32PolynomialTest, FoldConstantsMoveABlockWithoutChangingTheRegister) {
    std::mt19937 random(31337);
    ExpectFoldKeepsTheRegister<128>(random);
    ExpectFoldKeepsTheRegister<256>(random);
    ExpectFoldKeepsTheRegister<1024>(random);
    ExpectFoldKeepsTheRegister<2048>(random);
}

TEST(Crc32EngineTest, TheFastestEngineIsSupportedAndTheTableAlways) {
    EXPECT_TRUE(Crc32EngineSupported(Crc32Engine::kTable));
    EXPECT_TRUE(Crc32EngineSupported(FastestCrc32Engine()));
    if (Crc32EngineSupported(Crc32Engine::kWideCarryless)) {
        EXPECT_TRUE(Crc32EngineSupported(Crc32Engine::kCarryless));
        EXPECT_EQ(FastestCrc32Engine(), Crc32Engine::kWideCarryless);
    } else if (Crc32EngineSupported(Crc32Engine::kCarryless)) {
        EXPECT_EQ(FastestCrc32Engine(), Crc32Engine::kCarryless);
    }
}

#if !defined(__x86_64__)
// The carry-less engines are x86-64 code: elsewhere they keep their names but are never chosen.
TEST(Crc32EngineTest, OnOtherProcessorsOnlyTheTableServes) {
    EXPECT_FALSE(Crc32EngineSupported(Crc32Engine::kCarryless));
    EXPECT_FALSE(Crc32EngineSupported(Crc32Engine::kWideCarryless));
    EXPECT_EQ(FastestCrc32Engine(), Crc32Engine::kTable);
    EXPECT_STREQ(Crc32EngineName(Crc32Engine::kCarryless), "pclmul");
    EXPECT_STREQ(Crc32EngineName(Crc32Engine::kWideCarryless), "vpclmul");
}
#endif

TEST(Crc32EngineTest, TableEntriesAreTheRegisterAfterOneByte) {
    Crc32ByteTable const& table = Crc32ByteTableEntries();
    for (std::size_t i = 0; i < table.size(); ++i) {
        std::uint8_t const byte = static_cast<std::uint8_t>(i);
        ASSERT_EQ(table[i], qm::test::ReferenceCrc32Update(0, {&byte, 1})) << "entry " << i;
    }
}

class EachEngine : public ::testing::TestWithParam<Crc32Engine> {
  protected:
    void SetUp() override {
        if (!Crc32EngineSupported(GetParam())) {
            GTEST_SKIP() << Crc32EngineName(GetParam()) << " is not supported here";
        }
        update_ = Crc32UpdateFunctionOf(GetParam());
    }
    Crc32UpdateFunction update_ = nullptr;
};

TEST_P(EachEngine, KnownValues) {
    std::string_view const check = "123456789";
    std::span<const std::uint8_t> const bytes(reinterpret_cast<std::uint8_t const*>(check.data()),
                                              check.size());
    EXPECT_EQ(~update_(0xFFFFFFFFu, bytes), 0xCBF43926u);
    EXPECT_EQ(update_(0x12345678u, {}), 0x12345678u);
    std::vector<std::uint8_t> const zeros(4096, 0);
    EXPECT_EQ(update_(0, zeros), 0u);
    EXPECT_EQ(~update_(0xFFFFFFFFu, zeros), ~qm::test::ReferenceCrc32Update(0xFFFFFFFFu, zeros));
}

// Every length up to a few KiB (past every threshold and lane count of the kernels), from
// every alignment, starting from random registers, and split in up to three pieces anywhere.
TEST_P(EachEngine, AgreesWithBitwiseReferenceOnRandomBlocks) {
    std::mt19937 random(20240607u + static_cast<unsigned>(GetParam()));
    std::vector<std::uint8_t> const pool = RandomBytes(random, 6000 + 64);
    std::uniform_int_distribution<std::size_t> offset(0, 63);
    std::uniform_int_distribution<std::uint32_t> registerValue;
    for (std::size_t length = 0; length <= 6000; length += 1 + length / 300) {
        for (int round = 0; round < 3; ++round) {
            std::span<const std::uint8_t> const block(pool.data() + offset(random), length);
            std::uint32_t const start = round == 0 ? 0xFFFFFFFFu : registerValue(random);
            std::uint32_t const expected = qm::test::ReferenceCrc32Update(start, block);
            ASSERT_EQ(update_(start, block), expected) << "length " << length;

            std::uniform_int_distribution<std::size_t> cut(0, length);
            std::size_t first = cut(random);
            std::size_t second = cut(random);
            if (first > second) {
                std::swap(first, second);
            }
            std::uint32_t state = update_(start, block.first(first));
            state = update_(state, block.subspan(first, second - first));
            state = update_(state, block.subspan(second));
            ASSERT_EQ(state, expected)
                << "length " << length << ", cuts at " << first << " and " << second;
        }
    }
}

TEST_P(EachEngine, AgreesWithBitwiseReferenceOnALargeBlock) {
    std::mt19937 random(99);
    std::vector<std::uint8_t> const bytes = RandomBytes(random, (1 << 20) + 77);
    std::span<const std::uint8_t> const block(bytes.data() + 3, bytes.size() - 3);
    EXPECT_EQ(update_(0xFFFFFFFFu, block), qm::test::ReferenceCrc32Update(0xFFFFFFFFu, block));
}

// Every lane of the kernels must carry its own data: a single flipped bit anywhere in the
// input changes the result the way it changes the reference.
TEST_P(EachEngine, EverySingleBitErrorIsSeen) {
    std::mt19937 random(5);
    std::vector<std::uint8_t> bytes = RandomBytes(random, 2048 + 13);
    std::uint32_t const original = update_(0xFFFFFFFFu, bytes);
    for (std::size_t position = 0; position < bytes.size(); position += 7) {
        bytes[position] ^= 0x10;
        ASSERT_EQ(update_(0xFFFFFFFFu, bytes), qm::test::ReferenceCrc32Update(0xFFFFFFFFu, bytes))
            << "position " << position;
        ASSERT_NE(update_(0xFFFFFFFFu, bytes), original) << "position " << position;
        bytes[position] ^= 0x10;
    }
}

INSTANTIATE_TEST_SUITE_P(Engines, EachEngine,
                         ::testing::Values(Crc32Engine::kTable, Crc32Engine::kCarryless,
                                           Crc32Engine::kWideCarryless),
                         [](auto const& test) { return std::string(Crc32EngineName(test.param)); });

}  // namespace
}  // namespace qm::checksum
