// A connected pair of local stream sockets, and a bounded read of what waits on one end: the
// stand-in for a network connection that tests/ and fuzz/ share. Also TCP sockets on loopback
// addresses, bound, listening or connected.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "support/addresses.h"

namespace qm::test {

// Both ends non-blocking and close-on-exec; the caller owns them. Throws when none can be made.
std::pair<int, int> OpenSocketPair();

// Everything waiting on the non-blocking socket `fd`, in a bounded number of reads.
std::vector<std::uint8_t> DrainAll(int fd);

// A close-on-exec TCP socket bound to `address` at `port` (0: any free port), one listening there,
// or one connected there; -1 on failure.
int BoundTo(std::string const& address, std::uint16_t port);
int ListenOn(std::string const& address, int backlog, std::uint16_t port = kPort);
int ConnectTo(std::string const& address, std::uint16_t port = kPort);
// Sends all of `bytes` on the blocking socket `fd`; false when a send fails or times out.
bool SendAll(int fd, std::span<const std::uint8_t> bytes);
// Whether a TCP socket of any process listens on the IPv4 `address` at `port` (/proc/net/tcp).
bool Listening(std::string const& address, std::uint16_t port = kPort);

}  // namespace qm::test
