// An exclusive lock on a directory, held for as long as the object lives. It is the system's, so
// a process that is killed gives it up with its handles: on POSIX systems flock on the directory
// itself, so nothing is written into the directory; on Windows a hidden lock file in it
// (kRunLockFileName), opened for this process alone and removed when it is closed.
#pragma once

#include <string>
#include <variant>

#include "base/native_handle.h"

namespace qm::base {

// The lock file of the Windows lock, which a server may never name.
inline constexpr char kRunLockFileName[] = ".quillmesh-lock";

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
    explicit DirectoryLock(NativeHandle handle) : handle_(std::move(handle)) {}

    NativeHandle handle_;
};

}  // namespace qm::base
