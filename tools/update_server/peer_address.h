// The address of a connection's client, as the limits count it and the log names it.
#pragma once

#include <sys/socket.h>

#include <cstdint>
#include <optional>
#include <string>

#include "net/socket_handle.h"

namespace qm::server {

struct PeerAddress {
    // "192.0.2.1" or "2001:db8::1"; an IPv4 address mapped into IPv6 is given as IPv4.
    std::string host;
    std::uint16_t port = 0;

    // "192.0.2.1:5555" or "[2001:db8::1]:5555".
    std::string Describe() const;
    // An address of this machine's loopback interface (127.0.0.0/8, ::1).
    bool IsLoopback() const { return host.starts_with("127.") || host == "::1"; }
};

// The address in `address` when it is an IPv4 or IPv6 one.
std::optional<PeerAddress> PeerAddressOf(sockaddr_storage const& address);

// The peer of a connected socket; nothing when the socket has none (or no IP address).
std::optional<PeerAddress> SocketPeer(net::SocketHandle socket);

// The peer of a connected socket as the log names it, "unknown peer" when it has none.
std::string PeerOf(net::SocketHandle socket);

}  // namespace qm::server
