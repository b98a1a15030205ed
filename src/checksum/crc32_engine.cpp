#include "checksum/crc32_engine.h"

#include "checksum/crc32_carryless.h"
#include "checksum/crc32_table.h"
#include "checksum/crc32_wide_carryless.h"

namespace qm::checksum {

bool Crc32EngineSupported(Crc32Engine engine) {
    switch (engine) {
        case Crc32Engine::kTable:
            return true;
        case Crc32Engine::kCarryless:
            return CarrylessCrc32Supported();
        case Crc32Engine::kWideCarryless:
            return WideCarrylessCrc32Supported();
    }
    return false;
}

Crc32Engine FastestCrc32Engine() {
    if (Crc32EngineSupported(Crc32Engine::kWideCarryless)) {
        return Crc32Engine::kWideCarryless;
    }
    if (Crc32EngineSupported(Crc32Engine::kCarryless)) {
        return Crc32Engine::kCarryless;
    }
    return Crc32Engine::kTable;
}

Crc32UpdateFunction Crc32UpdateFunctionOf(Crc32Engine engine) {
    switch (engine) {
        case Crc32Engine::kTable:
            return &Crc32TableUpdate;
        case Crc32Engine::kCarryless:
            return &Crc32CarrylessUpdate;
        case Crc32Engine::kWideCarryless:
            return &Crc32WideCarrylessUpdate;
    }
    return &Crc32TableUpdate;
}

char const* Crc32EngineName(Crc32Engine engine) {
    switch (engine) {
        case Crc32Engine::kTable:
            return "table";
        case Crc32Engine::kCarryless:
            return "pclmul";
        case Crc32Engine::kWideCarryless:
            return "vpclmul";
    }
    return "unknown";
}

}  // namespace qm::checksum
