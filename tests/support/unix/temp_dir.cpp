#include <ftw.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <stdexcept>

#include "support/temp_dir.h"

namespace qm::test {
namespace {

int OpenUp(char const* path, struct stat const* status, int type, struct FTW*) {
    if (type == FTW_D || type == FTW_DNR) {
        ::chmod(path, (status->st_mode & 07777) | S_IRWXU);
    }
    return 0;
}

int RemoveOne(char const* path, struct stat const*, int type, struct FTW*) {
    if (type == FTW_DP) {
        ::rmdir(path);
    } else {
        ::unlink(path);
    }
    return 0;
}

}  // namespace

std::filesystem::path MakeUniqueDirectory(std::filesystem::path const& base,
                                          std::string const& prefix) {
    std::string pattern = (base / (prefix + "-XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot create a directory like " + pattern);
    }
    return pattern;
}

void SetMode(std::filesystem::path const& path, mode_t mode) {
    ::chmod(path.c_str(), mode);
}

mode_t TempDir::Mode(std::string_view relative) const {
    struct stat info {};
    return ::stat((path_ / relative).c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

std::uint64_t TempDir::FreeBytes() const {
    struct statvfs status {};
    if (::statvfs(path_.c_str(), &status) != 0) {
        return 0;
    }
    return static_cast<std::uint64_t>(status.f_bavail) * status.f_frsize;
}

void RemoveTree(std::filesystem::path const& path) {
    ::nftw(path.c_str(), OpenUp, 16, FTW_PHYS);
    ::nftw(path.c_str(), RemoveOne, 16, FTW_DEPTH | FTW_PHYS);
}

}  // namespace qm::test
