#include "checksum/checksum.h"

#include "base/aligned_buffer.h"

#include <algorithm>
#include <array>
#include <memory>
#include <thread>

#include "checksum/crc32_engine.h"
#include "checksum/crc32_file_reading.h"
#include "checksum/crc32_read_only_file.h"
#include "checksum/crc32_table.h"

namespace qm::checksum {
namespace {

// From this size on, a second thread that takes half of the file pays for its start
// (bench/checksum_bench has the figures); smaller files are read and checksummed in turn.
constexpr std::uint64_t kSplitFromSize = std::uint64_t{4} << 20;

// Files up to this size are read on the stack, without asking for their size first: for a
// small file the checksum costs no system call beyond those of reading it.
constexpr std::size_t kFirstReadSize = 16 * 1024;

Crc32UpdateFunction FastestUpdate() {
    static Crc32UpdateFunction const update = Crc32UpdateFunctionOf(FastestCrc32Engine());
    return update;
}

bool WorthSplitting(std::uint64_t size) {
    static bool const severalCores = std::thread::hardware_concurrency() > 1;
    return severalCores && size >= kSplitFromSize;
}

// Files under kSplitFromSize are read in blocks of at most this size, so that the updater, whose
// whole run fits in 4 MiB, does not fill a quarter of a MiB for one mid-sized file. It costs
// time: cached 1 MiB files checksum at 0.8 of the speed of 256 KiB blocks (bench/checksum_bench),
// some 24 microseconds a file.
constexpr std::size_t kMidSizedReadBlockSize = 64 * 1024;

// A buffer as large as what is left after the first read, within [kFirstReadSize,
// kMidSizedReadBlockSize] below kSplitFromSize; kFileReadBlockSize from there on, or when the
// size is not known.
std::size_t BufferSizeForTheRest(std::optional<std::uint64_t> size) {
    if (!size || *size >= kSplitFromSize) {
        return kFileReadBlockSize;
    }
    std::uint64_t const rest = *size > kFirstReadSize ? *size - kFirstReadSize : 0;
    return static_cast<std::size_t>(
        std::clamp<std::uint64_t>(rest, kFirstReadSize, kMidSizedReadBlockSize));
}

// The rest of a file whose first kFirstReadSize bytes gave the register `state`.
std::uint32_t Crc32OfLargerFile(ReadOnlyFile const& file, std::uint32_t state) {
    std::optional<std::uint64_t> const size = file.RegularFileSize();
    if (!size || *size > kFileReadBlockSize) {
        file.AdviseSequentialReading();
    }
    if (size && WorthSplitting(*size)) {
        return Crc32OfFileSplit(file, *size, FastestUpdate());  // from the start again
    }
    std::size_t const capacity = BufferSizeForTheRest(size);
    base::AlignedBuffer const buffer(capacity);
    return Crc32Final(Crc32ContinueInTurn(file, state, buffer.span(), FastestUpdate()));
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
    alignas(base::kPageSize) std::array<std::uint8_t, kFirstReadSize> first;
    std::size_t const got = file.ReadSome(first);
    std::uint32_t const state = FastestUpdate()(kCrcInitial, std::span(first).first(got));
    if (got < first.size()) {  // the whole file, or a pipe: go on in small reads
        return Crc32Final(Crc32ContinueInTurn(file, state, first, FastestUpdate()));
    }
    return Crc32OfLargerFile(file, state);
}

}  // namespace qm::checksum
