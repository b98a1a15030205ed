// Two ways of running a whole open file through the CRC-32 register. Both read it to its end
// (or to the first read error, which ends it like the end of the file) and return the checksum
// of the bytes read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "checksum/checksum.h"
#include "checksum/crc32_engine.h"
#include "checksum/crc32_read_only_file.h"

namespace qm::checksum {

// Reads into `buffer` from the file position on, and checksums each block before the next read.
std::uint32_t Crc32OfFileInTurn(ReadOnlyFile const& file, std::span<std::uint8_t> buffer,
                                Crc32UpdateFunction update);

// The same, going on from the register `state` and returning the register (no final
// complement), for a pass that has already taken the start of the file.
std::uint32_t Crc32ContinueInTurn(ReadOnlyFile const& file, std::uint32_t state,
                                  std::span<std::uint8_t> buffer, Crc32UpdateFunction update);

// Blocks of the split pass: those of FileCrc32.
inline constexpr std::size_t kSplitBlockSize = kFileReadBlockSize;

// The first `expectedSize` bytes are cut into segments that two threads (the caller and a
// helper) take in turn, each reading its segment with pread and checksumming it from a zero
// register; the segment checksums are then joined in file order. A thread that gets no processor
// time simply takes fewer segments. Bytes beyond `expectedSize` (a file that grew) are read in
// turn afterwards; a file that is shorter ends where its data ends. Without a helper thread the
// caller takes every segment.
std::uint32_t Crc32OfFileSplit(ReadOnlyFile const& file, std::uint64_t expectedSize,
                               Crc32UpdateFunction update, std::size_t blockSize = kSplitBlockSize);

// Segments of the split pass: an eighth of the file, at least one block, at most 4 MiB, in whole
// blocks.
std::uint64_t SplitSegmentSize(std::uint64_t fileSize, std::size_t blockSize);

}  // namespace qm::checksum
