#include "base/directory_lock.h"

#include <fcntl.h>
#include <sys/file.h>

#include <cerrno>

namespace qm::base {

std::optional<DirectoryLock> DirectoryLock::TryLock(std::string const& path) {
    // Close-on-exec: a program started later must not inherit, and so keep, the lock.
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd.valid()) {
        return std::nullopt;
    }
    while (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno != EINTR) {
            return std::nullopt;
        }
    }
    return DirectoryLock(std::move(fd));
}

}  // namespace qm::base
