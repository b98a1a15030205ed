#include "store/crc32_file_reading.h"

#include <system_error>
#include <thread>

#include "store/checksum.h"
#include "store/crc32_block_ring.h"

namespace qm::store {
namespace {

void ReadIntoRing(ReadOnlyFile const& file, BlockRing& ring) {
    for (;;) {
        std::size_t const got = file.ReadSome(ring.AwaitFreeBlock());
        ring.Publish(got);
        if (got == 0) {
            return;
        }
    }
}

std::uint32_t ChecksumFromRing(BlockRing& ring, Crc32UpdateFunction update) {
    std::uint32_t state = kCrcInitial;
    for (auto block = ring.AwaitPublishedBlock(); !block.empty();
         block = ring.AwaitPublishedBlock()) {
        state = update(state, block);
        ring.Release();
    }
    return Crc32Final(state);
}

}  // namespace

std::uint32_t Crc32OfFileInTurn(ReadOnlyFile const& file, std::span<std::uint8_t> buffer,
                                Crc32UpdateFunction update) {
    std::uint32_t state = kCrcInitial;
    for (std::size_t got = file.ReadSome(buffer); got > 0; got = file.ReadSome(buffer)) {
        state = update(state, buffer.first(got));
    }
    return Crc32Final(state);
}

std::uint32_t Crc32OfFileOverlapped(ReadOnlyFile const& file, Crc32UpdateFunction update,
                                    std::size_t blockSize) {
    BlockRing ring(kOverlapBlockCount, blockSize);
    std::jthread reader;
    try {
        reader = std::jthread([&file, &ring] { ReadIntoRing(file, ring); });
    } catch (std::system_error const&) {
        return Crc32OfFileInTurn(file, ring.AwaitFreeBlock(), update);
    }
    return ChecksumFromRing(ring, update);
}

}  // namespace qm::store
