// Moving a CRC-32 register over a run of zero bytes without reading them. The register is
// linear: after a message M from a register s it is crc(M from 0) xor (s moved over |M| zero
// bytes), and moving over n zero bytes multiplies s by x^(8n) modulo the generator. That is how
// checksums of consecutive pieces of a file, taken separately, are joined into one.
#pragma once

#include <cstdint>

namespace qm::checksum {

class ZeroBytesShift {
  public:
    // Prepares the move over `byteCount` zero bytes (x^(8 byteCount) by repeated squaring).
    explicit ZeroBytesShift(std::uint64_t byteCount);

    // The register `state` after that many zero bytes.
    std::uint32_t Apply(std::uint32_t state) const;

  private:
    std::uint32_t factor_;  // x^(8 byteCount) mod the generator, normal order
};

}  // namespace qm::checksum
