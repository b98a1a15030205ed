#include <fstream>

#include "support/tree_snapshot.h"

namespace qm::test {
namespace {

namespace fs = std::filesystem;

std::string ReadFileBytes(std::string const& path, std::size_t limit) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return "<unreadable>";
    }
    std::string bytes;
    char block[8192];
    while (bytes.size() <= limit && in.read(block, sizeof block).gcount() > 0) {
        bytes.append(block, static_cast<std::size_t>(in.gcount()));
    }
    return bytes;
}

}  // namespace

// Windows keeps no permission bits and no inode numbers: the mode stays 0, and a rewrite shows in
// the modification time alone.
std::optional<TreeEntry> ReadTreeEntry(std::string const& path, SnapshotOptions const& options) {
    std::error_code error;
    fs::file_status const status = fs::symlink_status(path, error);
    if (error || !fs::exists(status)) {
        return std::nullopt;
    }
    TreeEntry entry;
    if (fs::is_symlink(status)) {
        entry.kind = TreeEntry::Kind::Symlink;
        entry.content = fs::read_symlink(path, error).string();
    } else if (fs::is_regular_file(status)) {
        entry.kind = TreeEntry::Kind::File;
        entry.content = ReadFileBytes(path, options.maxFileBytes);
    } else if (fs::is_directory(status)) {
        entry.kind = TreeEntry::Kind::Directory;
    }
    if (options.withTimes) {
        entry.modifiedNs =
            static_cast<std::int64_t>(fs::last_write_time(path, error).time_since_epoch().count());
    }
    return entry;
}

}  // namespace qm::test
