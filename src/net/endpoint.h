// Where a connect goes: one address of the server, IPv4 or IPv6, with the port.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qm::net {

struct Endpoint {
    // The system's socket address (sockaddr_in or sockaddr_in6), `length` bytes of it.
    alignas(8) std::array<std::uint8_t, 128> address{};
    std::uint32_t length = 0;

    // The system's number of the address family (AF_INET, AF_INET6).
    int family() const;
    // "192.0.2.1:34005" or "[2001:db8::1]:34005".
    std::string Describe() const;
};

// The endpoint written in `host` when it is a dotted IPv4 address or an IPv6 address; no lookup.
std::optional<Endpoint> LiteralEndpoint(std::string const& host, std::uint16_t port);

// The endpoint of `host` for a server of the IPv4 kind: a dotted IPv4 address as it is written,
// anything else looked up by name, its first IPv4 address. Blocks for as long as the lookup
// takes; nothing when there is no IPv4 address.
std::optional<Endpoint> FirstIpv4Endpoint(std::string const& host, std::uint16_t port);

// Every address the resolver gives for `host`, IPv6 and IPv4, in its order of preference, each
// once. Blocks for as long as the lookup takes; empty when the name cannot be resolved.
std::vector<Endpoint> LookUpEndpoints(std::string const& host, std::uint16_t port);

}  // namespace qm::net
