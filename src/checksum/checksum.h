// CRC-32 of IEEE 802.3 (CRC-32/ISO-HDLC): reflected polynomial 0xEDB88320, initial value
// 0xFFFFFFFF, final complement. The check value of "123456789" is 0xCBF43926.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace qm::checksum {

using CrcTable = std::array<std::uint32_t, 256>;

// The 256-entry table of the reflected polynomial (entry 1 is 0x77073096, entry 128 0xEDB88320,
// entry 255 0x2D02EF8D). Built at compile time; calling it again gives the same values.
CrcTable const& BuildCrcTable();

// Running CRC over a byte block. Start with kCrcInitial, feed the blocks in order, and finish
// with Crc32Final. Crc32(bytes) does all three for one block.
inline constexpr std::uint32_t kCrcInitial = 0xFFFFFFFFu;
std::uint32_t Crc32Update(std::uint32_t state, std::span<const std::uint8_t> bytes);
inline std::uint32_t Crc32Final(std::uint32_t state) {
    return state ^ 0xFFFFFFFFu;
}
std::uint32_t Crc32(std::span<const std::uint8_t> bytes);

// Size of the blocks FileCrc32 reads a file of 4 MiB or more (or of unknown size) in; smaller
// files go in smaller blocks.
inline constexpr std::size_t kFileReadBlockSize = 256 * 1024;

// CRC-32 of a whole file, read in large blocks in constant memory; 0 when the file cannot be
// opened (which cannot be told apart from an empty file).
std::uint32_t FileCrc32(std::string const& path);

}  // namespace qm::checksum
