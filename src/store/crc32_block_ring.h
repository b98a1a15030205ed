// A fixed ring of equal blocks passed from one producer thread to one consumer thread without
// locks. The producer fills the next free block and publishes it with the number of bytes it
// holds; the consumer takes the published blocks in order and releases each when done. A block
// published with 0 bytes marks the end. Either side sleeps (futex) only when it has to wait.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

namespace qm::store {

class BlockRing {
  public:
    // `blockCount` must be a power of two.
    BlockRing(std::size_t blockCount, std::size_t blockSize);

    // Producer side.
    std::span<std::uint8_t> AwaitFreeBlock();
    void Publish(std::size_t filledBytes);

    // Consumer side; an empty span is the end mark, after which nothing more comes.
    std::span<const std::uint8_t> AwaitPublishedBlock();
    void Release();

  private:
    std::uint8_t* BlockAt(std::uint32_t sequence) const;

    std::size_t const blockCount_;
    std::size_t const blockSize_;
    std::unique_ptr<std::uint8_t[]> const storage_;
    std::unique_ptr<std::size_t[]> const filledBytes_;
    // Blocks published and released so far, modulo 2^32; each is written by one side only and
    // sits on its own cache line.
    alignas(64) std::atomic<std::uint32_t> published_{0};
    alignas(64) std::atomic<std::uint32_t> released_{0};
};

}  // namespace qm::store
