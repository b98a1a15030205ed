#include "checksum/crc32_table.h"

#include <cstddef>

namespace qm::checksum {
namespace {

constexpr std::uint32_t kReflectedPolynomial = 0xEDB88320u;

// Bytes consumed per step of the table-driven loop; one table per byte of the step.
constexpr std::size_t kSliceWidth = 16;
using SliceTables = std::array<Crc32ByteTable, kSliceWidth>;

constexpr Crc32ByteTable MakeByteTable() {
    Crc32ByteTable table{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t value = i;
        for (int bit = 0; bit < 8; ++bit) {
            value = (value & 1u) != 0 ? (value >> 1) ^ kReflectedPolynomial : value >> 1;
        }
        table[i] = value;
    }
    return table;
}

// tables[k][b] is the register contribution of byte b followed by k zero bytes, so the bytes
// of one step can be looked up independently and combined with exclusive or.
constexpr SliceTables MakeSliceTables() {
    SliceTables tables{};
    tables[0] = MakeByteTable();
    for (std::size_t k = 1; k < kSliceWidth; ++k) {
        for (std::size_t i = 0; i < 256; ++i) {
            std::uint32_t const previous = tables[k - 1][i];
            tables[k][i] = (previous >> 8) ^ tables[0][previous & 0xFFu];
        }
    }
    return tables;
}

constexpr SliceTables kSliceTables = MakeSliceTables();
constexpr Crc32ByteTable const& kByteTable = kSliceTables[0];

static_assert(kByteTable[1] == 0x77073096u);
static_assert(kByteTable[128] == 0xEDB88320u);
static_assert(kByteTable[255] == 0x2D02EF8Du);

inline std::uint32_t LoadLittleEndian32(std::uint8_t const* bytes) {
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

inline std::uint32_t Slice(std::size_t table, std::uint32_t word, int shift) {
    return kSliceTables[table][(word >> shift) & 0xFFu];
}

// Four 32-bit words: the first is combined with the register, the byte at offset n of the step
// is looked up in table (15 - n).
inline std::uint32_t StepSixteen(std::uint32_t state, std::uint8_t const* bytes) {
    std::uint32_t const w0 = state ^ LoadLittleEndian32(bytes);
    std::uint32_t const w1 = LoadLittleEndian32(bytes + 4);
    std::uint32_t const w2 = LoadLittleEndian32(bytes + 8);
    std::uint32_t const w3 = LoadLittleEndian32(bytes + 12);
    return Slice(15, w0, 0) ^ Slice(14, w0, 8) ^ Slice(13, w0, 16) ^ Slice(12, w0, 24) ^
           Slice(11, w1, 0) ^ Slice(10, w1, 8) ^ Slice(9, w1, 16) ^ Slice(8, w1, 24) ^
           Slice(7, w2, 0) ^ Slice(6, w2, 8) ^ Slice(5, w2, 16) ^ Slice(4, w2, 24) ^
           Slice(3, w3, 0) ^ Slice(2, w3, 8) ^ Slice(1, w3, 16) ^ Slice(0, w3, 24);
}

inline std::uint32_t StepOne(std::uint32_t state, std::uint8_t byte) {
    return (state >> 8) ^ kByteTable[(state ^ byte) & 0xFFu];
}

}  // namespace

Crc32ByteTable const& Crc32ByteTableEntries() {
    return kByteTable;
}

std::uint32_t Crc32TableUpdate(std::uint32_t state, std::span<const std::uint8_t> bytes) {
    std::uint8_t const* next = bytes.data();
    std::size_t left = bytes.size();
    while (left >= kSliceWidth) {
        state = StepSixteen(state, next);
        next += kSliceWidth;
        left -= kSliceWidth;
    }
    while (left > 0) {
        state = StepOne(state, *next++);
        --left;
    }
    return state;
}

}  // namespace qm::checksum
