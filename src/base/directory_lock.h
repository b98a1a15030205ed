// An exclusive lock on a directory, held for as long as the object lives. It is the kernel's
// (flock on the directory itself), so nothing is written into the directory and a process that is
// killed gives the lock up with its descriptors.
#pragma once

#include <optional>
#include <string>

#include "base/unique_fd.h"

namespace qm::base {

class DirectoryLock {
  public:
    // The lock on `path`, or nothing when another process holds it or `path` cannot be opened
    // (errno tells which: EWOULDBLOCK when it is held).
    static std::optional<DirectoryLock> TryLock(std::string const& path);

  private:
    explicit DirectoryLock(UniqueFd fd) : fd_(std::move(fd)) {}

    UniqueFd fd_;
};

}  // namespace qm::base
