// An IP address written as text (dotted IPv4, or IPv6), as the bytes that carry it on the wire.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qm::test {

// 4 bytes for IPv4 text, 16 for IPv6 text (all zero when the text is neither), in network order.
std::vector<std::uint8_t> AddressBytes(std::string const& text);

}  // namespace qm::test
