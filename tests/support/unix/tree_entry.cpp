#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/tree_snapshot.h"

namespace qm::test {
namespace {

std::string ReadFileBytes(std::string const& path, std::size_t limit) {
    std::string bytes;
    int const fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        return "<unreadable>";
    }
    char block[8192];
    ssize_t got = 0;
    while (bytes.size() <= limit && (got = ::read(fd, block, sizeof block)) > 0) {
        bytes.append(block, static_cast<std::size_t>(got));
    }
    ::close(fd);
    return bytes;
}

std::string ReadLinkTarget(std::string const& path) {
    std::error_code error;
    std::filesystem::path const target = std::filesystem::read_symlink(path, error);
    return error ? std::string("<unreadable>") : target.string();
}

}  // namespace

std::optional<TreeEntry> ReadTreeEntry(std::string const& path, SnapshotOptions const& options) {
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0) {
        return std::nullopt;
    }
    TreeEntry entry;
    entry.mode = status.st_mode & 07777;
    if (S_ISREG(status.st_mode)) {
        entry.kind = TreeEntry::Kind::File;
        entry.content = ReadFileBytes(path, options.maxFileBytes);
    } else if (S_ISLNK(status.st_mode)) {
        entry.kind = TreeEntry::Kind::Symlink;
        entry.content = ReadLinkTarget(path);
    } else if (S_ISDIR(status.st_mode)) {
        entry.kind = TreeEntry::Kind::Directory;
    }
    if (options.withTimes) {
        entry.inode = status.st_ino;
        entry.modifiedNs =
            static_cast<std::int64_t>(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec;
    }
    return entry;
}

}  // namespace qm::test
