#include "base/directory.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qm::base {

std::optional<Directory> Directory::Open(std::string const& path) {
    NativeHandle handle(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!handle.valid()) {
        return std::nullopt;
    }
    return Directory(std::move(handle), path);
}

bool Directory::Sync() const {
    return ::fsync(static_cast<int>(handle_.get())) == 0;
}

int Directory::RemoveFilesIf(std::function<bool(std::string_view name)> const& unwanted) const {
    // The listing gets a descriptor of its own, which closedir closes.
    int const fd = static_cast<int>(handle_.get());
    int const listed = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    DIR* const listing = listed < 0 ? nullptr : ::fdopendir(listed);
    if (listing == nullptr) {
        if (listed >= 0) {
            ::close(listed);
        }
        return 0;
    }
    int removed = 0;
    while (dirent const* entry = ::readdir(listing)) {
        if (!unwanted(entry->d_name)) {
            continue;
        }
        struct stat info {};
        if (::fstatat(fd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(info.st_mode) && ::unlinkat(fd, entry->d_name, 0) == 0) {
            ++removed;
        }
    }
    ::closedir(listing);
    return removed;
}

}  // namespace qm::base
