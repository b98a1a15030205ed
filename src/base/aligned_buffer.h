// Memory for the kernel to copy file and socket data into or out of. A copy into a block that
// starts a few bytes past a page boundary can be several times slower than into an aligned one
// (seen on AMD processors for 16 bytes off), and a fresh large allocation starts exactly there;
// so file reads use page-aligned blocks, and socket data at least cache-line-aligned ones.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <span>
#include <vector>

namespace qm::base {

inline constexpr std::size_t kPageSize = 4096;
inline constexpr std::size_t kCacheLineSize = 64;

// A fixed block of `size` bytes whose address is a multiple of `alignment` (a power of two).
// Its contents start undefined.
class AlignedBuffer {
  public:
    explicit AlignedBuffer(std::size_t size, std::size_t alignment = kPageSize)
        : bytes_(static_cast<std::uint8_t*>(::operator new (size, std::align_val_t{alignment})),
                 Free{alignment}),
          size_(size) {}

    std::uint8_t* data() const { return bytes_.get(); }
    std::size_t size() const { return size_; }
    std::span<std::uint8_t> span() const { return {bytes_.get(), size_}; }

  private:
    struct Free {
        std::size_t alignment;
        void operator()(std::uint8_t* bytes) const {
            ::operator delete (bytes, std::align_val_t{alignment});
        }
    };
    std::unique_ptr<std::uint8_t, Free> bytes_;
    std::size_t size_;
};

// Allocates every block at a multiple of `Alignment`.
template <typename T, std::size_t Alignment>
struct AlignedAllocator {
    using value_type = T;
    template <typename U>
    struct rebind {
        using other = AlignedAllocator<U, Alignment>;
    };

    AlignedAllocator() = default;
    template <typename U>
    AlignedAllocator(AlignedAllocator<U, Alignment> const& /*other*/) {}

    T* allocate(std::size_t count) {
        return static_cast<T*>(::operator new (count * sizeof(T), std::align_val_t{Alignment}));
    }
    void deallocate(T* block, std::size_t /*count*/) {
        ::operator delete (block, std::align_val_t{Alignment});
    }
    template <typename U>
    bool operator==(AlignedAllocator<U, Alignment> const& /*other*/) const {
        return true;
    }
};

// Growing bytes for frames on their way to a socket.
using ByteBuffer = std::vector<std::uint8_t, AlignedAllocator<std::uint8_t, kCacheLineSize>>;

}  // namespace qm::base
