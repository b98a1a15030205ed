// An open directory: makes renames in it durable and clears it of the temporary files that a
// killed run left behind.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "base/native_handle.h"

namespace qm::base {

class Directory {
  public:
    // Nothing when `path` cannot be opened as a directory.
    static std::optional<Directory> Open(std::string const& path);

    // Flushes the directory's entries to disk, so that a rename in it survives a power cut.
    bool Sync() const;

    // Removes the regular files whose names are `prefix` followed by exactly `suffixLength` more
    // characters (never a link, never a directory). Returns how many were removed.
    int RemoveLeftovers(std::string_view prefix, std::size_t suffixLength) const;

    // Removes the regular files whose names `unwanted` picks (never a link, never a directory).
    // Returns how many were removed.
    int RemoveFilesIf(std::function<bool(std::string_view name)> const& unwanted) const;

  private:
    Directory(NativeHandle handle, std::string path)
        : handle_(std::move(handle)), path_(std::move(path)) {}

    NativeHandle handle_;
    std::string path_;
};

// The directory part of `path`: "." for a bare name, "/" for a name at the root.
std::string DirectoryOf(std::string_view path);

// The last component of `path`.
std::string_view BaseName(std::string_view path);

}  // namespace qm::base
