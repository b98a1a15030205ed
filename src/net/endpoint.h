// Where a connect goes: one address of the server, IPv4 or IPv6, with the port.
#pragma once

#include <sys/socket.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qm::net {

struct Endpoint {
    sockaddr_storage address{};
    socklen_t length = 0;

    int family() const { return address.ss_family; }
    // "192.0.2.1:34005" or "[2001:db8::1]:34005".
    std::string Describe() const;
};

// The endpoint written in `host` when it is a dotted IPv4 address or an IPv6 address; no lookup.
std::optional<Endpoint> LiteralEndpoint(std::string const& host, std::uint16_t port);

// Every address the resolver gives for `host`, IPv6 and IPv4, in its order of preference, each
// once. Blocks for as long as the lookup takes; empty when the name cannot be resolved.
std::vector<Endpoint> LookUpEndpoints(std::string const& host, std::uint16_t port);

}  // namespace qm::net
