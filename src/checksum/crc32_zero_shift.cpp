#include "checksum/crc32_zero_shift.h"

#include "checksum/crc32_polynomial.h"

namespace qm::checksum {

ZeroBytesShift::ZeroBytesShift(std::uint64_t byteCount) : factor_(1) {
    std::uint32_t square = PowerOfXModGenerator(8);  // x^(8 * 2^k) for the k-th bit of the count
    for (; byteCount != 0; byteCount >>= 1) {
        if ((byteCount & 1u) != 0) {
            factor_ = MultiplyModGenerator(factor_, square);
        }
        square = MultiplyModGenerator(square, square);
    }
}

std::uint32_t ZeroBytesShift::Apply(std::uint32_t state) const {
    return ReverseBits(MultiplyModGenerator(ReverseBits(state), factor_));
}

}  // namespace qm::checksum
