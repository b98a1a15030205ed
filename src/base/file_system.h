// The few file system calls that the shared code makes on paths, one implementation per platform.
// Paths are byte strings relative to the current directory or absolute, with '/' between
// components; failures leave errno saying why.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace qm::base {

// Longest name of one directory entry.
inline constexpr std::size_t kLongestFileName = 255;

// The size of the regular file at `path`; nothing for anything else or nothing at all. A link is
// not followed.
std::optional<std::uint64_t> RegularFileSize(std::string const& path);

// Whether `path` is a directory itself (a link to one is not).
bool IsDirectory(std::string const& path);

// Removes the file at `path`. True when it is gone afterwards, also when it was gone before.
bool RemoveFile(std::string const& path);

// Removes `path` when it is a regular file (never a link or a directory).
void RemoveRegularFile(std::string const& path);

// Creates one directory; false when it cannot (it exists, no permission).
bool MakeDirectory(std::string const& path);

// Removes one directory when it is empty; false otherwise.
bool RemoveEmptyDirectory(std::string const& path);

// Bytes that an unprivileged writer can still put on the disk that holds `directory`; nothing
// when nobody can tell.
std::optional<std::uint64_t> FreeSpace(std::string const& directory);

// The whole text of a file and its permission bits, or why there are none.
struct FileContents {
    enum class Outcome { kRead, kMissing, kFailed };
    Outcome outcome = Outcome::kFailed;
    std::string text;
    mode_t mode = 0644;
};
FileContents ReadFileContents(std::string const& path);

}  // namespace qm::base
