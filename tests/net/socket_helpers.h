// Real sockets for the transport tests, on every platform: connected pairs, and a few bounded ways
// to fill, drain and wait, through the socket calls of the platform's socket layer. The loop is
// the platform's (support/platform_loop.h). What only POSIX systems have (descriptors of any
// kind, listeners by descriptor) is in posix_socket_helpers.h.
#pragma once

#include <cstdint>
#include <vector>

#include "net/socket_handle.h"
#include "support/loop_turns.h"
#include "support/test_socket.h"

namespace qm::net::testing {

using qm::test::ManualClock;
using qm::test::PlatformLoop;
using qm::test::RunUntil;
using qm::test::TestSocket;
using qm::test::Watchdog;

// The socket of an owned one, or of a system handle, as the socket layer and the loop take it.
inline SocketHandle Socket(TestSocket const& socket) {
    return SocketHandle(socket.get());
}
inline SocketHandle Socket(std::intptr_t native) {
    return SocketHandle(native);
}

// The two ends of a connection, both non-blocking (test_socket.h: ConnectedPair).
struct SocketPair {
    SocketPair();
    TestSocket ours;
    TestSocket theirs;
};

// Whether `native` is still an open socket.
bool IsOpen(std::intptr_t native);

// Sends into the non-blocking socket until it takes no single further byte. Returns the bytes
// sent.
std::size_t FillSendBuffer(std::intptr_t native);
// Everything waiting on the non-blocking socket, in a bounded number of reads.
std::vector<std::uint8_t> DrainAll(std::intptr_t native);
// Reads exactly `count` bytes from the non-blocking socket, waiting at most a few seconds in all.
std::vector<std::uint8_t> ReadExactly(std::intptr_t native, std::size_t count);

}  // namespace qm::net::testing
