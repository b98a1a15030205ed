#include "base/directory.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

namespace qm::base {

std::optional<Directory> Directory::Open(std::string const& path) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd.valid()) {
        return std::nullopt;
    }
    return Directory(std::move(fd));
}

bool Directory::Sync() const {
    return ::fsync(fd_.get()) == 0;
}

int Directory::RemoveLeftovers(std::string_view prefix, std::size_t suffixLength) const {
    return RemoveFilesIf([&](std::string_view name) {
        return name.size() == prefix.size() + suffixLength && name.starts_with(prefix);
    });
}

int Directory::RemoveFilesIf(std::function<bool(std::string_view name)> const& unwanted) const {
    // The listing gets a descriptor of its own, which closedir closes.
    int const listed = ::fcntl(fd_.get(), F_DUPFD_CLOEXEC, 0);
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
        if (::fstatat(fd_.get(), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(info.st_mode) && ::unlinkat(fd_.get(), entry->d_name, 0) == 0) {
            ++removed;
        }
    }
    ::closedir(listing);
    return removed;
}

std::string DirectoryOf(std::string_view path) {
    std::size_t const slash = path.rfind('/');
    if (slash == std::string_view::npos) {
        return ".";
    }
    return slash == 0 ? "/" : std::string(path.substr(0, slash));
}

std::string_view BaseName(std::string_view path) {
    std::size_t const slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

}  // namespace qm::base
