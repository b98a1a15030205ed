// CRC-32 by folding with 256-bit carry-less multiplication (VPCLMULQDQ on AVX2 registers): two
// 16-byte blocks per register, so twice the work per instruction of the 128-bit kernel. Gives
// the same register as the table method for every input.
#pragma once

#include <cstdint>
#include <span>

namespace qm::checksum {

// Whether this processor has VPCLMULQDQ and AVX2 (and with them what the 128-bit kernel needs);
// never outside x86-64 builds.
bool WideCarrylessCrc32Supported();

// Runs `bytes` through the register `state`. Only on a processor for which
// WideCarrylessCrc32Supported() holds.
std::uint32_t Crc32WideCarrylessUpdate(std::uint32_t state, std::span<const std::uint8_t> bytes);

}  // namespace qm::checksum
