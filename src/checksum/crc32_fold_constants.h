// Constants for moving a 16-byte block of the message forward by a fixed distance with two
// carry-less multiplications ("folding"), derived at compile time from the generator.
//
// A 16-byte block loaded little-endian into a 128-bit register has bit t as the coefficient of
// x^(127-t): the reflected CRC takes each byte from its least significant bit, so the first bit
// of the block is its highest term. With L the low and H the high 64-bit half (in each, bit i is
// the coefficient of x^(63-i)) the block is L*x^64 + H.
//
// Moving the block `distance` bits further along the message multiplies it by x^distance, and
// modulo the generator G that is
//
//     L * (x^(distance+64) mod G)  +  H * (x^distance mod G).
//
// A carry-less product of a half (bit i for x^(63-i)) with a reflected residue c (bit j for
// x^(31-j)) has bit t = i+j as the coefficient of x^(94-t). Read as a 128-bit block (bit t for
// x^(127-t)) that is the product times x^33, so each constant carries a factor x^-33:
//
//     for L:  reflected x^(distance+31) mod G        for H:  reflected x^(distance-33) mod G
//
// The products have at most 95 bits, stay inside the register and line up with the block that
// lies `distance` bits further on, which they are added to with exclusive or.
#pragma once

#include <cstdint>

#include "checksum/crc32_polynomial.h"

namespace qm::checksum {

struct FoldConstants {
    std::uint64_t forLowHalf;
    std::uint64_t forHighHalf;
};

template <unsigned kDistanceBits>
constexpr FoldConstants FoldConstantsFor() {
    static_assert(kDistanceBits >= 128 && kDistanceBits % 128 == 0,
                  "blocks move by whole 16-byte blocks");
    return {ReflectedPowerOfX(kDistanceBits + 31), ReflectedPowerOfX(kDistanceBits - 33)};
}

}  // namespace qm::checksum
