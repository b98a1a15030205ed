// CRC-32 by folding 16-byte blocks with carry-less multiplication (PCLMULQDQ), eight blocks in
// flight. Gives the same register as the table method for every input.
#pragma once

#include <cstdint>
#include <span>

namespace qm::checksum {

// Whether this processor has PCLMULQDQ and SSE4.1; never outside x86-64 builds, where the kernel
// is not built (crc32_carryless_stand_in.cpp).
bool CarrylessCrc32Supported();

// Runs `bytes` through the register `state`. Only on a processor for which
// CarrylessCrc32Supported() holds.
std::uint32_t Crc32CarrylessUpdate(std::uint32_t state, std::span<const std::uint8_t> bytes);

}  // namespace qm::checksum
