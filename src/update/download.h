// One file being downloaded: the chunks go into a replacement of the target in the target's own
// directory, which takes the target's place in one rename once the whole file has arrived and
// its checksum is right. Until then the target is untouched.
//
// A download is either temporary (a new file named after kDownloadPrefix, removed when the
// download does not complete) or resumable (its partial file, named after kPartialPrefix, is kept
// when the download ends unfinished, so that a later run can go on from where it stopped).
#pragma once

#include <cstddef>
#include <cstdint>
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

    // A temporary download beside `targetPath`. Nothing when its file cannot be created; errno
    // tells why.
    static std::optional<Download> Begin(std::string const& targetPath);

    // A resumable download kept in `partialPath`, going on from the first `keptBytes` bytes that
    // are there already (anything after them is cut off; a file that holds fewer starts over).
    // Nothing when the file cannot be opened or read; errno tells why.
    static std::optional<Download> Resume(std::string const& targetPath,
                                          std::string const& partialPath, std::uint64_t keptBytes);

    Download(Download&&) noexcept = default;
    Download& operator=(Download&&) noexcept = default;
    // Suspends the download.
    ~Download() { Suspend(); }

    // Appends one chunk. It may stay in memory until a whole block has gathered; a block that
    // cannot be written makes this (or Install) fail. False when writing failed; errno tells why.
    bool Append(std::span<const std::uint8_t> data);

    // Writes what is gathered, checks that the file's CRC-32 is `expectedCrc`, gives it the
    // permission bits of the file it replaces, flushes it and renames it over the target. On any
    // failure the target is untouched, the download's file removed, and errno tells why.
    Result Install(std::uint32_t expectedCrc);
    // The same, renamed to `destination` (beside the target) instead of over the target.
    Result InstallAt(std::uint32_t expectedCrc, std::string const& destination);

    // The download ends unfinished: a resumable one writes what it has gathered and keeps its
    // file; a temporary one removes its file.
    void Suspend();

    // Removes the download's file, whichever kind it is (a failed or damaged download).
    void Discard();

    // Removes the temporary files that a killed run left in `directory`: regular files whose
    // names are kDownloadPrefix and six more characters, and on Windows the targets that an
    // earlier run set aside (kSetAsidePrefix and six more). Returns how many were removed.
    static int RemoveLeftovers(std::string const& directory);

    bool resumable() const { return resumable_; }
    std::string const& filePath() const { return file_.temporaryPath(); }
    // Bytes of the file so far, whether already written or still gathered.
    std::uint64_t bytesWritten() const { return bytesWritten_; }

  private:
    Download(base::ReplacementFile file, bool resumable);
    bool WriteGathered();
    // Runs the first `length` bytes of the file through the checksum.
    bool TakeKept(std::uint64_t length);

    base::ReplacementFile file_;
    bool resumable_;
    base::AlignedBuffer block_{kDownloadWriteBlock};
    std::size_t gathered_ = 0;
    std::uint32_t crcState_;
    std::uint64_t bytesWritten_ = 0;
};

}  // namespace qm::update
