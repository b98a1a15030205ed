// The remote address of a connect: a dotted IPv4 address is taken as it stands, anything else is
// looked up by name and its first IPv4 address used.
#pragma once

#include <netinet/in.h>

#include <functional>
#include <optional>
#include <string>

namespace qm::net {

using HostLookup = std::function<std::optional<in_addr>(std::string const& host)>;

// The address written in `host` when it is a dotted IPv4 address.
std::optional<in_addr> ParseDottedAddress(std::string const& host);

// The first IPv4 address that the resolver gives for the name `host`.
std::optional<in_addr> LookUpHostAddress(std::string const& host);

// ParseDottedAddress, and `lookup` only for a host that is not a dotted address.
std::optional<in_addr> ResolveHostAddress(std::string const& host,
                                          HostLookup const& lookup = LookUpHostAddress);

}  // namespace qm::net
