#include "store/checksum.h"

#include <algorithm>
#include <memory>
#include <thread>

#include "store/crc32_engine.h"
#include "store/crc32_file_reading.h"
#include "store/crc32_read_only_file.h"
#include "store/crc32_table.h"

namespace qm::store {
namespace {

// From this size on, a second thread that takes half of the file pays for its start
// (bench/checksum_bench has the figures); smaller files are read and checksummed in turn.
constexpr std::uint64_t kSplitFromSize = std::uint64_t{4} << 20;

// Reading in turn uses a buffer as large as the file, between these bounds.
constexpr std::size_t kSmallestReadBuffer = 4096;

Crc32UpdateFunction FastestUpdate() {
    static Crc32UpdateFunction const update = Crc32UpdateFunctionOf(FastestCrc32Engine());
    return update;
}

bool WorthSplitting(std::uint64_t size) {
    static bool const severalCores = std::thread::hardware_concurrency() > 1;
    return severalCores && size >= kSplitFromSize;
}

std::uint32_t Crc32OfSmallFile(ReadOnlyFile const& file, std::optional<std::uint64_t> size) {
    std::size_t const capacity = size ? static_cast<std::size_t>(std::clamp<std::uint64_t>(
                                            *size, kSmallestReadBuffer, kFileReadBlockSize))
                                      : kFileReadBlockSize;
    auto const buffer = std::make_unique_for_overwrite<std::uint8_t[]>(capacity);
    return Crc32OfFileInTurn(file, {buffer.get(), capacity}, FastestUpdate());
}

}  // namespace

CrcTable const& BuildCrcTable() {
    return Crc32ByteTableEntries();
}

std::uint32_t Crc32Update(std::uint32_t state, std::span<const std::uint8_t> bytes) {
    return FastestUpdate()(state, bytes);
}

std::uint32_t Crc32(std::span<const std::uint8_t> bytes) {
    return Crc32Final(Crc32Update(kCrcInitial, bytes));
}

std::uint32_t FileCrc32(std::string const& path) {
    ReadOnlyFile const file(path);
    if (!file.IsOpen()) {
        return 0;
    }
    std::optional<std::uint64_t> const size = file.RegularFileSize();
    if (!size || *size > kFileReadBlockSize) {
        file.AdviseSequentialReading();
    }
    if (size && WorthSplitting(*size)) {
        return Crc32OfFileSplit(file, *size, FastestUpdate());
    }
    return Crc32OfSmallFile(file, size);
}

}  // namespace qm::store
