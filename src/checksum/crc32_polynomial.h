// Arithmetic on polynomials over GF(2) modulo the CRC-32 generator polynomial, at compile time.
//
// A residue (a polynomial of degree below 32) is held in a 32-bit word with bit i as the
// coefficient of x^i ("normal" order). The CRC register itself works in reflected order, bit i
// holding the coefficient of x^(31-i); ReverseBits converts between the two.
#pragma once

#include <cstdint>

namespace qm::checksum {

// x^32 + x^26 + x^23 + x^22 + x^16 + x^12 + x^11 + x^10 + x^8 + x^7 + x^5 + x^4 + x^2 + x + 1
inline constexpr std::uint64_t kCrc32Generator = 0x1'04C1'1DB7u;

constexpr std::uint32_t ReverseBits(std::uint32_t value) {
    std::uint32_t reversed = 0;
    for (int bit = 0; bit < 32; ++bit) {
        reversed = (reversed << 1) | (value & 1u);
        value >>= 1;
    }
    return reversed;
}

// x^exponent mod the generator, in normal order: multiply by x one step at a time and subtract
// (exclusive or) the generator whenever the degree reaches 32.
constexpr std::uint32_t PowerOfXModGenerator(unsigned exponent) {
    std::uint64_t residue = 1;
    for (unsigned step = 0; step < exponent; ++step) {
        residue <<= 1;
        if ((residue >> 32) != 0) {
            residue ^= kCrc32Generator;
        }
    }
    return static_cast<std::uint32_t>(residue);
}

// a * b mod the generator, both residues in normal order: Horner's rule over the bits of b,
// reducing after every multiplication by x.
constexpr std::uint32_t MultiplyModGenerator(std::uint32_t a, std::uint32_t b) {
    std::uint64_t product = 0;
    for (int bit = 31; bit >= 0; --bit) {
        product <<= 1;
        if ((product >> 32) != 0) {
            product ^= kCrc32Generator;
        }
        if (((b >> bit) & 1u) != 0) {
            product ^= a;
        }
    }
    return static_cast<std::uint32_t>(product);
}

// The same residue in the register's reflected order.
constexpr std::uint32_t ReflectedPowerOfX(unsigned exponent) {
    return ReverseBits(PowerOfXModGenerator(exponent));
}

static_assert(ReverseBits(0x04C11DB7u) == 0xEDB88320u);
static_assert(PowerOfXModGenerator(31) == 0x80000000u);
static_assert(PowerOfXModGenerator(32) == 0x04C11DB7u);
static_assert(MultiplyModGenerator(PowerOfXModGenerator(20), PowerOfXModGenerator(45)) ==
              PowerOfXModGenerator(65));

}  // namespace qm::checksum
