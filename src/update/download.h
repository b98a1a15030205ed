// One file being downloaded: the chunks go into a new temporary file in the target's own
// directory, which replaces the target in one rename once the whole file has arrived and its
// checksum is right. Until then the target is untouched; a download that does not complete
// removes its temporary file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

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

    // Creates the temporary file exclusively (never following an existing name) beside
    // `targetPath`. Nothing when it cannot be created; errno tells why.
    static std::optional<Download> Begin(std::string const& targetPath);

    Download(Download&& other) noexcept;
    Download& operator=(Download&& other) noexcept;
    Download(Download const&) = delete;
    Download& operator=(Download const&) = delete;
    ~Download();

    // Appends one chunk. It may stay in memory until a whole block has gathered; a block that
    // cannot be written makes this (or Install) fail. False when writing failed; errno tells why.
    bool Append(std::span<const std::uint8_t> data);

    // Writes what is gathered, flushes the file to disk, checks that its CRC-32 is `expectedCrc`,
    // gives it the permission bits of the file it replaces, and renames it over the target. On any
    // failure the target is untouched, the temporary file removed, and errno tells why.
    Result Install(std::uint32_t expectedCrc);

    // Removes the temporary files that a killed run left in `directory`: regular files whose
    // names are this prefix and six more characters. Returns how many were removed.
    static int RemoveLeftovers(std::string const& directory);

    // The directory that holds `path` ("." for a bare name).
    static std::string DirectoryOf(std::string const& path);

    std::string const& temporaryPath() const { return tempPath_; }
    // Bytes appended so far, whether already written or still gathered.
    std::uint64_t bytesWritten() const { return bytesWritten_; }

  private:
    Download(int fd, std::string targetPath, std::string tempPath);
    void Discard();
    bool WriteAll(std::span<const std::uint8_t> data);
    bool WriteGathered();

    int fd_ = -1;
    std::unique_ptr<std::uint8_t[]> block_;
    std::size_t gathered_ = 0;
    std::string targetPath_;
    std::string tempPath_;
    std::uint32_t crcState_;
    std::uint64_t bytesWritten_ = 0;
};

}  // namespace qm::update
