// The carry-less engines on processors other than x86-64, where they are not built: never
// supported, so FastestCrc32Engine() picks the table. Called anyway, they give the table's
// result.
#include "checksum/crc32_carryless.h"
#include "checksum/crc32_table.h"
#include "checksum/crc32_wide_carryless.h"

namespace qm::checksum {

bool CarrylessCrc32Supported() {
    return false;
}

bool WideCarrylessCrc32Supported() {
    return false;
}

std::uint32_t Crc32CarrylessUpdate(std::uint32_t state, std::span<const std::uint8_t> bytes) {
    return Crc32TableUpdate(state, bytes);
}

std::uint32_t Crc32WideCarrylessUpdate(std::uint32_t state, std::span<const std::uint8_t> bytes) {
    return Crc32TableUpdate(state, bytes);
}

}  // namespace qm::checksum
