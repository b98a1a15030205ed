// The test side's own CRC-32 (IEEE 802.3, reflected polynomial 0xEDB88320), computed bit by bit so
// that it shares nothing with the updater's table-driven one.
#pragma once

#include <cstdint>
#include <span>

namespace qm::e2e {

std::uint32_t Crc32(std::span<const std::uint8_t> bytes);

}  // namespace qm::e2e
