// The table method of the CRC-32: slicing by 16, with one 256-entry table per byte of a step.
// It runs on every processor and is the reference the carry-less kernels are held to.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace qm::checksum {

using Crc32ByteTable = std::array<std::uint32_t, 256>;

// The classic one-byte table of the reflected polynomial: entry b is the register after the
// byte b, starting from a zero register.
Crc32ByteTable const& Crc32ByteTableEntries();

// Runs `bytes` through the register `state` (no initial value, no final complement).
std::uint32_t Crc32TableUpdate(std::uint32_t state, std::span<const std::uint8_t> bytes);

}  // namespace qm::checksum
