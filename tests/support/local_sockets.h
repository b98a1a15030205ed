// A connected pair of local stream sockets, and a bounded read of what waits on one end: the
// stand-in for a network connection that tests/ and fuzz/ share.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

namespace qm::test {

// Both ends non-blocking and close-on-exec; the caller owns them. Throws when none can be made.
std::pair<int, int> OpenSocketPair();

// Everything waiting on the non-blocking socket `fd`, in a bounded number of reads.
std::vector<std::uint8_t> DrainAll(int fd);

}  // namespace qm::test
