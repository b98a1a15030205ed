// How much the server takes on: how many clients, how many from one address, and how long a
// connection may keep a place without logging in or without reading what it was sent.
#pragma once

#include <sys/resource.h>

#include <chrono>
#include <cstddef>
#include <optional>

namespace qm::server {

using Seconds = std::chrono::seconds;

// A connection that has not logged in within this time is closed.
inline constexpr Seconds kLoginLimit{10};
// Descriptors kept back from the clients: standard streams, the signal pipe, the listening
// sockets, the release scan.
inline constexpr rlim_t kReservedDescriptors = 32;
// Each client holds its socket and at most one release file.
inline constexpr rlim_t kDescriptorsPerClient = 2;

struct ServerLimits {
    std::size_t maxClients = 0;  // 0: derived from the descriptor limit (MaxClientsFor)
    // Clients from loopback addresses are not counted per address.
    std::size_t maxPerAddress = 16;
    Seconds loginLimit = kLoginLimit;
    // A client that has taken nothing of what it was sent for this long is closed.
    Seconds idleLimit{120};
    // After SIGTERM, clients in the middle of a run have this long to finish.
    Seconds drainLimit{30};
};

// The most clients that `descriptors` (the soft RLIMIT_NOFILE) leaves room for, at least 1.
std::size_t MaxClientsFor(rlim_t descriptors);

}  // namespace qm::server
