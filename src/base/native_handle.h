// Sole owner of an open file, directory or lock of the system: a descriptor on POSIX systems, a
// HANDLE on Windows. It is held in an integer wide enough for either; -1 stands for none (it is
// also the value of INVALID_HANDLE_VALUE). Closed when the owner goes, unless it was released.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <utility>

namespace qm::base {

// Closes a handle of the system; false when that failed. One definition per platform.
bool CloseNativeHandle(std::intptr_t handle);

// Reads up to buffer.size() bytes of an open file from `offset` on (at most 1 GiB at once): the
// number read, 0 at the end of the file or when the read failed (errno tells which). On Windows
// the file position of a synchronous handle moves; on POSIX systems it stays. One definition per
// platform.
std::size_t ReadNativeAt(std::intptr_t handle, std::span<std::uint8_t> buffer,
                         std::uint64_t offset);

class NativeHandle {
  public:
    static constexpr std::intptr_t kNone = -1;

    NativeHandle() = default;
    explicit NativeHandle(std::intptr_t handle) : handle_(handle) {}
    ~NativeHandle() { Reset(); }
    NativeHandle(NativeHandle&& other) noexcept : handle_(std::exchange(other.handle_, kNone)) {}
    NativeHandle& operator=(NativeHandle&& other) noexcept {
        if (this != &other) {
            Reset(std::exchange(other.handle_, kNone));
        }
        return *this;
    }
    NativeHandle(NativeHandle const&) = delete;
    NativeHandle& operator=(NativeHandle const&) = delete;

    std::intptr_t get() const { return handle_; }
    bool valid() const { return handle_ != kNone; }
    // Closes the handle held (if any) and takes `handle`. False when that close failed.
    bool Reset(std::intptr_t handle = kNone) {
        std::intptr_t const old = std::exchange(handle_, handle);
        return old == kNone || CloseNativeHandle(old);
    }

  private:
    std::intptr_t handle_ = kNone;
};

}  // namespace qm::base
