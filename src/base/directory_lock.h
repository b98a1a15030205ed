// An exclusive lock on a directory, held for as long as the object lives. It is the kernel's
// (flock on the directory itself), so nothing is written into the directory and a process that is
// killed gives the lock up with its descriptors.
#pragma once

#include <string>
#include <variant>

#include "base/unique_fd.h"

namespace qm::base {

class DirectoryLock {
  public:
    // Why there is no lock: another process holds it, or the directory or the lock itself could
    // not be had (the system's reason).
    struct Refusal {
        bool heldElsewhere = false;
        std::string reason;
    };
    using Attempt = std::variant<DirectoryLock, Refusal>;

    static Attempt TryLock(std::string const& path);

  private:
    explicit DirectoryLock(UniqueFd fd) : fd_(std::move(fd)) {}

    UniqueFd fd_;
};

}  // namespace qm::base
