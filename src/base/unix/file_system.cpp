#include "base/file_system.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>

#include "base/aligned_buffer.h"
#include "base/unix/unique_fd.h"

namespace qm::base {

std::optional<std::uint64_t> RegularFileSize(std::string const& path) {
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(status.st_size);
}

bool IsDirectory(std::string const& path) {
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

bool RemoveFile(std::string const& path) {
    return ::unlink(path.c_str()) == 0 || errno == ENOENT;
}

void RemoveRegularFile(std::string const& path) {
    if (RegularFileSize(path)) {
        ::unlink(path.c_str());
    }
}

bool MakeDirectory(std::string const& path) {
    return ::mkdir(path.c_str(), 0777) == 0;
}

bool RemoveEmptyDirectory(std::string const& path) {
    return ::rmdir(path.c_str()) == 0;
}

std::optional<std::uint64_t> FreeSpace(std::string const& directory) {
    struct statvfs disk {};
    if (::statvfs(directory.c_str(), &disk) != 0) {
        return std::nullopt;
    }
    return std::uint64_t{disk.f_bavail} * disk.f_frsize;
}

FileContents ReadFileContents(std::string const& path) {
    FileContents contents;
    UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!file.valid()) {
        contents.outcome =
            errno == ENOENT ? FileContents::Outcome::kMissing : FileContents::Outcome::kFailed;
        return contents;
    }
    struct stat status {};
    if (::fstat(file.get(), &status) != 0) {
        return contents;
    }
    contents.mode = status.st_mode & 07777;
    alignas(kPageSize) char block[16 * 1024];
    for (;;) {
        ssize_t const got = ::read(file.get(), block, sizeof block);
        if (got == 0) {
            break;
        }
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return contents;
        }
        contents.text.append(block, static_cast<std::size_t>(got));
    }
    contents.outcome = FileContents::Outcome::kRead;
    return contents;
}

}  // namespace qm::base
