// The tests' own CRC-32 (IEEE 802.3, reflected polynomial 0xEDB88320), computed bit by bit so that
// it shares nothing with the product's table-driven and carry-less engines.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace qm::test {

// The register after feeding `bytes` into `crc`, without the initial or final inversion.
std::uint32_t ReferenceCrc32Update(std::uint32_t crc, std::span<const std::uint8_t> bytes);
// The finished checksum of `bytes`.
std::uint32_t ReferenceCrc32(std::span<const std::uint8_t> bytes);
std::uint32_t ReferenceCrc32(std::string_view text);

}  // namespace qm::test
