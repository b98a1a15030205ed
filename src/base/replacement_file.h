// A new version of a file, received into a temporary file beside it and renamed over it in one
// step once it is complete and on disk. Until then the old file is untouched; a replacement that
// is dropped before it was committed removes its temporary file. Profile files and downloads
// both reach the disk this way.
//
// On Windows a rename that meets a sharing violation (a virus scanner holding the new file) is
// tried again for up to kSharingRetryLimit; a target in use that can be renamed (a running
// program) is renamed aside under kSetAsidePrefix and the new file put in its place, and what
// was set aside is removed by a later run. POSIX systems never need either.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "base/native_handle.h"

namespace qm::base {

// Length of the random part that follows a temporary file's prefix.
inline constexpr std::size_t kTemporarySuffixLength = 6;

// Targets in use that were renamed aside (Windows): the prefix and kTemporarySuffixLength more
// characters.
inline constexpr char kSetAsidePrefix[] = ".quillmesh-replaced-";
inline constexpr std::chrono::milliseconds kSharingRetryLimit{2000};

class ReplacementFile {
  public:
    enum class Outcome { Replaced, WriteFailed, RenameFailed };

    // Creates "<directory of target>/<prefix>XXXXXX" exclusively, never following a name that
    // exists. Nothing when it cannot be created; errno tells why.
    static std::optional<ReplacementFile> Create(std::string target, std::string_view prefix);

    // Opens the file `path` beside the target, or creates it, to go on writing at its end: a
    // replacement that outlives the run when it is kept. Never follows a link; nothing when `path`
    // is not a regular file or cannot be opened (errno tells why).
    static std::optional<ReplacementFile> OpenNamed(std::string target, std::string path);

    ReplacementFile(ReplacementFile&& other) noexcept;
    ReplacementFile& operator=(ReplacementFile&& other) noexcept;
    ReplacementFile(ReplacementFile const&) = delete;
    ReplacementFile& operator=(ReplacementFile const&) = delete;
    ~ReplacementFile() { Discard(); }

    // Writes all of `bytes` at the end of what was written. False when that failed; errno says
    // why (ENOSPC when the disk took nothing).
    bool Write(std::span<const std::uint8_t> bytes);

    // Gives the file `mode`, flushes it to disk, closes it, renames it over the target and makes
    // the rename durable. On failure the target is untouched, the temporary file is removed and
    // errno says why.
    Outcome Commit(mode_t mode);
    // The same, renamed to `destination` instead (a name in the same directory).
    Outcome Commit(mode_t mode, std::string const& destination);

    // Removes the temporary file now (errno is kept).
    void Discard();

    // Closes the file and leaves it where it is, for a later run to go on with.
    void Keep();

    // Cuts the file to its first `length` bytes and goes on writing from there.
    bool Truncate(std::uint64_t length);

    // Reads back what is there from `offset` on into the front of `buffer`: the bytes read, 0 at
    // the end or on a read error (errno says which).
    std::size_t ReadAt(std::span<std::uint8_t> buffer, std::uint64_t offset) const;

    // The size of the file as it is now; nothing when it cannot be told.
    std::optional<std::uint64_t> Size() const;

    std::string const& temporaryPath() const { return temporaryPath_; }
    std::string const& targetPath() const { return targetPath_; }

  private:
    ReplacementFile(NativeHandle file, std::string target, std::string temporary);

    // Written bytes after which the disk is asked to start writing what is dirty.
    static constexpr std::uint64_t kWriteBackStep = std::uint64_t{4} << 20;

    NativeHandle file_;
    std::string targetPath_;
    std::string temporaryPath_;    // empty once renamed or removed
    std::uint64_t unflushed_ = 0;  // written since the last start of write-back
};

// The permission bits for a new version of `target`: those of the regular file it replaces, or
// `fallback` when there is none.
mode_t ReplacementMode(std::string const& target, mode_t fallback);

// What open(2) gives a new file with mode 0666 under the process's umask.
mode_t DefaultFileMode();

}  // namespace qm::base
