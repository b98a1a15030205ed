// One file being downloaded: the chunks go into a replacement of the target in the target's own
// directory, which takes the target's place in one rename once the whole file has arrived and
// its checksum is right. Until then the target is untouched; a download that does not complete
// removes its temporary file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "base/aligned_buffer.h"
#include "base/replacement_file.h"

namespace qm::update {

// Temporary files of downloads start with this name, so that leftovers of a killed run can be
// recognised.
inline constexpr char kDownloadPrefix[] = ".quillmesh-download-";

// Chunks are gathered in memory and written in blocks of this size: one write(2) per small
// chunk would cost a fair share of each stop-and-wait round trip.
inline constexpr std::size_t kDownloadWriteBlock = 64 * 1024;

class Download {
  public:
    enum class Result { Installed, ChecksumMismatch, WriteFailed, RenameFailed };

    // Creates the temporary file beside `targetPath`. Nothing when it cannot be created; errno
    // tells why.
    static std::optional<Download> Begin(std::string const& targetPath);

    // Appends one chunk. It may stay in memory until a whole block has gathered; a block that
    // cannot be written makes this (or Install) fail. False when writing failed; errno tells why.
    bool Append(std::span<const std::uint8_t> data);

    // Writes what is gathered, checks that the file's CRC-32 is `expectedCrc`, gives it the
    // permission bits of the file it replaces, flushes it and renames it over the target. On any
    // failure the target is untouched, the temporary file removed, and errno tells why.
    Result Install(std::uint32_t expectedCrc);

    // Removes the temporary files that a killed run left in `directory`: regular files whose
    // names are the prefix and six more characters. Returns how many were removed.
    static int RemoveLeftovers(std::string const& directory);

    std::string const& temporaryPath() const { return file_.temporaryPath(); }
    // Bytes appended so far, whether already written or still gathered.
    std::uint64_t bytesWritten() const { return bytesWritten_; }

  private:
    explicit Download(base::ReplacementFile file);
    bool WriteGathered();

    base::ReplacementFile file_;
    base::AlignedBuffer block_;
    std::size_t gathered_ = 0;
    std::uint32_t crcState_;
    std::uint64_t bytesWritten_ = 0;
};

}  // namespace qm::update
