#include "support/crc32.h"

namespace qm::test {

std::uint32_t ReferenceCrc32Update(std::uint32_t crc, std::span<const std::uint8_t> bytes) {
    for (std::uint8_t byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 1u) != 0 ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
        }
    }
    return crc;
}

std::uint32_t ReferenceCrc32(std::span<const std::uint8_t> bytes) {
    return ~ReferenceCrc32Update(0xFFFFFFFFu, bytes);
}

std::uint32_t ReferenceCrc32(std::string_view text) {
    return ReferenceCrc32(
        std::span(reinterpret_cast<std::uint8_t const*>(text.data()), text.size()));
}

}  // namespace qm::test
