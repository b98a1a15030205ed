// The ways this program can compute a CRC-32, and the choice among them at run time. All of them
// give the same register for the same input; they differ only in speed and in the instructions
// they need.
#pragma once

#include <cstdint>
#include <span>

namespace qm::checksum {

enum class Crc32Engine {
    kTable,          // slicing by 16; any processor
    kCarryless,      // 128-bit PCLMULQDQ folding; x86-64 only
    kWideCarryless,  // 256-bit VPCLMULQDQ folding; x86-64 only
};

using Crc32UpdateFunction = std::uint32_t (*)(std::uint32_t state,
                                              std::span<const std::uint8_t> bytes);

// Whether this processor can run `engine`.
bool Crc32EngineSupported(Crc32Engine engine);

// The fastest engine this processor can run.
Crc32Engine FastestCrc32Engine();

// The update function of `engine`; call it only if the engine is supported.
Crc32UpdateFunction Crc32UpdateFunctionOf(Crc32Engine engine);

// Short name for reports: "table", "pclmul", "vpclmul".
char const* Crc32EngineName(Crc32Engine engine);

}  // namespace qm::checksum
