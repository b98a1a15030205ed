// The PROXY protocol version 2 header that a TCP load balancer (haproxy with send-proxy-v2) puts
// before the client's bytes: a 16-byte start (signature, version and command, address family and
// transport, length of the rest) and the rest (addresses, then optional TLVs, which are skipped).
// The LOCAL command is the balancer's own connection (a health check): no client address.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "update_server/outcome.h"
#include "update_server/peer_address.h"

namespace qm::server {

inline constexpr std::size_t kProxyHeaderStart = 16;
// The longest header taken (start included); longer ones are refused.
inline constexpr std::size_t kProxyHeaderMax = 1024;

struct ProxyHeader {
    bool local = false;  // the LOCAL command
    // The client's address; nothing for LOCAL, and for PROXY without an IP address family (the
    // connection's own peer then stands for the client).
    std::optional<PeerAddress> source;
};

// The length of the whole header, from its first kProxyHeaderStart bytes; or why they start no
// header this server takes.
Outcome<std::size_t> ProxyHeaderLength(std::span<const std::uint8_t> start);

// The whole header (as long as ProxyHeaderLength said); or why it is not valid.
Outcome<ProxyHeader> ParseProxyHeader(std::span<const std::uint8_t> header);

}  // namespace qm::server
