#include "store/crc32_block_ring.h"

#include <cassert>

namespace qm::store {

BlockRing::BlockRing(std::size_t blockCount, std::size_t blockSize)
    : blockCount_(blockCount),
      blockSize_(blockSize),
      storage_(std::make_unique_for_overwrite<std::uint8_t[]>(blockCount * blockSize)),
      filledBytes_(std::make_unique<std::size_t[]>(blockCount)) {
    assert(blockCount > 0 && (blockCount & (blockCount - 1)) == 0);
}

std::uint8_t* BlockRing::BlockAt(std::uint32_t sequence) const {
    return storage_.get() + (sequence & (blockCount_ - 1)) * blockSize_;
}

std::span<std::uint8_t> BlockRing::AwaitFreeBlock() {
    std::uint32_t const next = published_.load(std::memory_order_relaxed);
    for (;;) {
        std::uint32_t const released = released_.load(std::memory_order_acquire);
        if (next - released < blockCount_) {
            return {BlockAt(next), blockSize_};
        }
        released_.wait(released, std::memory_order_acquire);
    }
}

void BlockRing::Publish(std::size_t filledBytes) {
    std::uint32_t const next = published_.load(std::memory_order_relaxed);
    filledBytes_[next & (blockCount_ - 1)] = filledBytes;
    published_.store(next + 1, std::memory_order_release);
    published_.notify_one();
}

std::span<const std::uint8_t> BlockRing::AwaitPublishedBlock() {
    std::uint32_t const next = released_.load(std::memory_order_relaxed);
    for (;;) {
        std::uint32_t const published = published_.load(std::memory_order_acquire);
        if (published != next) {
            return {BlockAt(next), filledBytes_[next & (blockCount_ - 1)]};
        }
        published_.wait(published, std::memory_order_acquire);
    }
}

void BlockRing::Release() {
    released_.store(released_.load(std::memory_order_relaxed) + 1, std::memory_order_release);
    released_.notify_one();
}

}  // namespace qm::store
