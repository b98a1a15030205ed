#include "update_server/proxy_header.h"

#include <netinet/in.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <string>

namespace qm::server {
namespace {

constexpr std::array<std::uint8_t, 12> kSignature = {0x0D, 0x0A, 0x0D, 0x0A, 0x00, 0x0D,
                                                     0x0A, 0x51, 0x55, 0x49, 0x54, 0x0A};
constexpr std::uint8_t kVersion2 = 0x20;
constexpr std::uint8_t kLocal = 0x0;
constexpr std::uint8_t kProxy = 0x1;
// Address families (high nibble of byte 13) and transports (low nibble).
constexpr std::uint8_t kUnspecified = 0x0;
constexpr std::uint8_t kInet = 0x1;
constexpr std::uint8_t kInet6 = 0x2;
constexpr std::uint8_t kStream = 0x1;
// Address blocks: source and destination address, then source and destination port.
constexpr std::size_t kInetBlock = 4 + 4 + 2 + 2;
constexpr std::size_t kInet6Block = 16 + 16 + 2 + 2;

std::uint16_t Read16(std::span<const std::uint8_t> bytes, std::size_t at) {
    return static_cast<std::uint16_t>(bytes[at] << 8 | bytes[at + 1]);
}

// The source of an IPv4 or IPv6 address block that starts at `block`.
PeerAddress SourceOf(std::span<const std::uint8_t> block, std::uint8_t family) {
    sockaddr_storage address{};
    if (family == kInet) {
        auto& v4 = reinterpret_cast<sockaddr_in&>(address);
        v4.sin_family = AF_INET;
        std::memcpy(&v4.sin_addr, block.data(), 4);
        v4.sin_port = htons(Read16(block, 8));
    } else {
        auto& v6 = reinterpret_cast<sockaddr_in6&>(address);
        v6.sin6_family = AF_INET6;
        std::memcpy(&v6.sin6_addr, block.data(), 16);
        v6.sin6_port = htons(Read16(block, 32));
    }
    return *PeerAddressOf(address);
}

}  // namespace

Outcome<std::size_t> ProxyHeaderLength(std::span<const std::uint8_t> start) {
    using Result = Outcome<std::size_t>;
    if (start.size() < kProxyHeaderStart ||
        !std::equal(kSignature.begin(), kSignature.end(), start.begin())) {
        return Result::Failure("no PROXY protocol version 2 header");
    }
    if ((start[12] & 0xF0) != kVersion2) {
        return Result::Failure("PROXY protocol version " + std::to_string(start[12] >> 4) +
                               " header (only version 2 is taken)");
    }
    std::size_t const length = kProxyHeaderStart + Read16(start, 14);
    if (length > kProxyHeaderMax) {
        return Result::Failure("PROXY protocol header of " + std::to_string(length) +
                               " bytes (at most " + std::to_string(kProxyHeaderMax) + ")");
    }
    return Result::Success(length);
}

Outcome<ProxyHeader> ParseProxyHeader(std::span<const std::uint8_t> header) {
    using Result = Outcome<ProxyHeader>;
    Outcome<std::size_t> const length = ProxyHeaderLength(header);
    if (!length.ok()) {
        return Result::Failure(length.reason());
    }
    if (header.size() != length.value()) {
        return Result::Failure("PROXY protocol header cut short");
    }
    std::uint8_t const command = header[12] & 0x0F;
    if (command == kLocal) {
        return Result::Success(ProxyHeader{true, std::nullopt});
    }
    if (command != kProxy) {
        return Result::Failure("PROXY protocol header with the unknown command " +
                               std::to_string(command));
    }
    std::uint8_t const family = header[13] >> 4;
    std::uint8_t const transport = header[13] & 0x0F;
    std::span<const std::uint8_t> const block = header.subspan(kProxyHeaderStart);
    if (family != kInet && family != kInet6) {
        // No IP address (unspecified, or a local socket of the balancer's machine).
        return family == kUnspecified || family == 0x3
                   ? Result::Success(ProxyHeader{false, std::nullopt})
                   : Result::Failure("PROXY protocol header with the unknown address family " +
                                     std::to_string(family));
    }
    if (transport != kStream) {
        return Result::Failure("PROXY protocol header for a transport other than TCP");
    }
    if (block.size() < (family == kInet ? kInetBlock : kInet6Block)) {
        return Result::Failure("PROXY protocol header too short for its addresses");
    }
    return Result::Success(ProxyHeader{false, SourceOf(block, family)});
}

}  // namespace qm::server
