// What test_socket.cpp shares with the platform's half of the tests' own sockets
// (unix/test_socket.cpp, win/test_socket.cpp).
#pragma once

#include <cstdint>
#include <string>

#include "support/test_socket.h"
#include "test_socket_system.h"

namespace qm::test {

// The system's socket of one of the tests' own.
system::Native NativeOf(TestSocket const& socket);
sockaddr_in LoopbackEndpoint(std::string const& address, std::uint16_t port);

}  // namespace qm::test
