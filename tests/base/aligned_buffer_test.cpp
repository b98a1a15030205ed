// Buffers the kernel copies into or out of start on page or cache-line boundaries, whatever the
// size and however often they grow.
#include "base/aligned_buffer.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace qm::base {
namespace {

std::uintptr_t Offset(void const* address, std::size_t alignment) {
    return reinterpret_cast<std::uintptr_t>(address) % alignment;
}

TEST(AlignedMemory, BlocksStartOnTheirBoundaryWhateverTheSize) {
    for (std::size_t const size : {std::size_t{1}, std::size_t{2027}, std::size_t{64 * 1024},
                                   std::size_t{256 * 1024}, std::size_t{4 << 20}}) {
        SCOPED_TRACE(size);
        AlignedBuffer const page(size);
        EXPECT_EQ(Offset(page.data(), kPageSize), 0u);
        EXPECT_EQ(page.span().size(), size);
        AlignedBuffer const line(size, kCacheLineSize);
        EXPECT_EQ(Offset(line.data(), kCacheLineSize), 0u);
    }
    ByteBuffer frames;
    for (int growth = 0; growth < 20; ++growth) {
        frames.resize(frames.size() * 2 + 419);
        EXPECT_EQ(Offset(frames.data(), kCacheLineSize), 0u) << frames.size();
    }
}

}  // namespace
}  // namespace qm::base
