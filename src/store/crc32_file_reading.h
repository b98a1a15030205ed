// Two ways of running a whole open file through the CRC-32 register. Both read it to its end
// (or to the first read error, which ends it like the end of the file) and return the checksum
// of the bytes read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "store/crc32_engine.h"
#include "store/crc32_read_only_file.h"

namespace qm::store {

// Reads into `buffer` and checksums each block before reading the next.
std::uint32_t Crc32OfFileInTurn(ReadOnlyFile const& file, std::span<std::uint8_t> buffer,
                                Crc32UpdateFunction update);

// The ring of the overlapped pass: kOverlapBlockCount blocks of kOverlapBlockSize.
inline constexpr std::size_t kOverlapBlockSize = 256 * 1024;
inline constexpr std::size_t kOverlapBlockCount = 4;

// A helper thread reads ahead into a ring of blocks while the calling thread checksums the
// blocks already read, so the checksum runs in the shadow of the reading. Reads in turn when no
// thread can be started.
std::uint32_t Crc32OfFileOverlapped(ReadOnlyFile const& file, Crc32UpdateFunction update,
                                    std::size_t blockSize = kOverlapBlockSize);

}  // namespace qm::store
