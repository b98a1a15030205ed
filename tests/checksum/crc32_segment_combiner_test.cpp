// Moving a register over zero bytes, and joining segment checksums in any order, against the
// table method run over the real bytes.
#include "checksum/crc32_segment_combiner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "checksum/crc32_table.h"
#include "checksum/crc32_zero_shift.h"
#include "support/random_bytes.h"

namespace qm::checksum {
namespace {

using qm::test::RandomBytes;

TEST(ZeroBytesShiftTest, IsTheRegisterAfterThatManyZeroBytes) {
    std::mt19937 random(3);
    std::uniform_int_distribution<std::uint32_t> registerValue;
    for (std::size_t const count :
         {std::size_t{0}, std::size_t{1}, std::size_t{2}, std::size_t{3}, std::size_t{4},
          std::size_t{15}, std::size_t{16}, std::size_t{1000}, std::size_t{65536},
          std::size_t{(1 << 20) + 3}}) {
        std::vector<std::uint8_t> const zeros(count, 0);
        ZeroBytesShift const shift(count);
        for (int round = 0; round < 5; ++round) {
            std::uint32_t const state = round == 0 ? 0xFFFFFFFFu : registerValue(random);
            ASSERT_EQ(shift.Apply(state), Crc32TableUpdate(state, zeros))
                << count << " zero bytes from " << state;
        }
    }
    EXPECT_EQ(ZeroBytesShift(12345).Apply(0), 0u);
}

struct Pieces {
    std::vector<std::uint8_t> bytes;
    std::vector<SegmentCombiner::Segment> segments;
};

// `size` random bytes cut into segments of `segmentSize`, each checksummed from zero.
Pieces Cut(std::mt19937& random, std::size_t size, std::size_t segmentSize) {
    Pieces pieces{RandomBytes(random, size), {}};
    for (std::size_t start = 0, index = 0; start < size; start += segmentSize, ++index) {
        std::size_t const length = std::min(segmentSize, size - start);
        std::span<const std::uint8_t> const segment(pieces.bytes.data() + start, length);
        pieces.segments.push_back({index, Crc32TableUpdate(0, segment), length});
    }
    return pieces;
}

TEST(SegmentCombinerTest, SegmentsInAnyOrderGiveTheWholeRegister) {
    std::mt19937 random(8);
    for (std::size_t const size : {std::size_t{1}, std::size_t{999}, std::size_t{1000},
                                   std::size_t{1001}, std::size_t{25000}}) {
        Pieces pieces = Cut(random, size, 1000);
        for (int order = 0; order < 10; ++order) {
            std::shuffle(pieces.segments.begin(), pieces.segments.end(), random);
            SegmentCombiner combiner(0xFFFFFFFFu, size, 1000);
            for (auto const& segment : pieces.segments) {
                combiner.Add(segment);
            }
            EXPECT_FALSE(combiner.ReachedEnd());
            ASSERT_EQ(combiner.State(), Crc32TableUpdate(0xFFFFFFFFu, pieces.bytes))
                << "size " << size << ", order " << order;
        }
    }
}

TEST(SegmentCombinerTest, NothingCountsAfterAShortSegment) {
    std::mt19937 random(9);
    Pieces pieces = Cut(random, 5000, 1000);
    // The file shrank to 2300 bytes: segment 2 came back with 300 of its 1000 bytes, and the
    // segments after it (read by another thread before it saw the end) with nothing or junk.
    std::span<const std::uint8_t> const kept(pieces.bytes.data(), 2300);
    SegmentCombiner combiner(0xFFFFFFFFu, 5000, 1000);
    combiner.Add({3, 0x12345678u, 1000});
    combiner.Add({2, Crc32TableUpdate(0, kept.subspan(2000)), 300});
    combiner.Add(pieces.segments[0]);
    EXPECT_FALSE(combiner.ReachedEnd());
    combiner.Add(pieces.segments[1]);
    EXPECT_TRUE(combiner.ReachedEnd());
    combiner.Add({4, 0, 0});
    EXPECT_EQ(combiner.State(), Crc32TableUpdate(0xFFFFFFFFu, kept));
}

TEST(SegmentCombinerTest, AnEmptyExpectedFileKeepsTheInitialRegister) {
    SegmentCombiner const combiner(0xFFFFFFFFu, 0, 4096);
    EXPECT_EQ(combiner.State(), 0xFFFFFFFFu);
    EXPECT_FALSE(combiner.ReachedEnd());
}

}  // namespace
}  // namespace qm::checksum
