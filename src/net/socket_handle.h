// A socket of the system: a descriptor on POSIX systems, a SOCKET (as wide as a pointer: 64 or
// 32 bits) on Windows. A type of its own, so that a socket is never taken for a count or a file;
// held in an integer wide enough for either, -1 standing for none (INVALID_SOCKET on Windows).
//
// On POSIX systems the event loop watches any descriptor that poll(2) can watch (a pipe, a
// terminal) given as a SocketHandle.
#pragma once

#include <compare>
#include <cstdint>

namespace qm::net {

class SocketHandle {
  public:
    constexpr SocketHandle() = default;
    constexpr explicit SocketHandle(std::intptr_t native) : native_(native) {}

    constexpr std::intptr_t native() const { return native_; }
    constexpr bool valid() const { return native_ != -1; }

    friend constexpr auto operator<=>(SocketHandle, SocketHandle) = default;

  private:
    std::intptr_t native_ = -1;
};

inline constexpr SocketHandle kNoSocket{};

}  // namespace qm::net
