#include "base/directory_lock.h"

#include <fcntl.h>
#include <sys/file.h>

#include <cerrno>
#include <cstring>

namespace qm::base {

DirectoryLock::Attempt DirectoryLock::TryLock(std::string const& path) {
    // Close-on-exec: a program started later must not inherit, and so keep, the lock.
    NativeHandle fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd.valid()) {
        return Refusal{.reason = std::strerror(errno)};
    }
    while (::flock(static_cast<int>(fd.get()), LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK) {
            return Refusal{.heldElsewhere = true, .reason = std::strerror(errno)};
        }
        if (errno != EINTR) {
            return Refusal{.reason = std::strerror(errno)};  // no locks here (ENOLCK), ...
        }
    }
    return DirectoryLock(std::move(fd));
}

}  // namespace qm::base
