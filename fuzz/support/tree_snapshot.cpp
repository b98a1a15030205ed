#include "support/tree_snapshot.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "support/violation.h"

namespace qm::fuzz {
namespace {

constexpr int kMaxDepth = 24;
constexpr std::size_t kMaxEntries = 4096;
constexpr std::size_t kMaxFileBytes = 1 << 20;

std::string ReadFileBytes(std::string const& path) {
    std::string bytes;
    int const fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        return "<unreadable>";
    }
    char block[8192];
    for (;;) {
        ssize_t const got = ::read(fd, block, sizeof block);
        if (got <= 0 || bytes.size() > kMaxFileBytes) {
            break;
        }
        bytes.append(block, static_cast<std::size_t>(got));
    }
    ::close(fd);
    return bytes;
}

std::string ReadLinkTarget(std::string const& path) {
    std::vector<char> target(4096);
    ssize_t const length = ::readlink(path.c_str(), target.data(), target.size());
    return length < 0 ? std::string("<unreadable>")
                      : std::string(target.data(), static_cast<std::size_t>(length));
}

std::vector<std::string> DirectoryNames(std::string const& path) {
    std::vector<std::string> names;
    DIR* listing = ::opendir(path.c_str());
    if (listing == nullptr) {
        return names;
    }
    while (dirent const* entry = ::readdir(listing)) {
        std::string name = entry->d_name;
        if (name != "." && name != ".." && names.size() < kMaxEntries) {
            names.push_back(std::move(name));
        }
    }
    ::closedir(listing);
    return names;
}

void Walk(std::string const& root, std::string const& relative, int depth, TreeSnapshot& into) {
    for (std::string const& name :
         DirectoryNames(relative.empty() ? root : root + "/" + relative)) {
        std::string const entryPath = relative.empty() ? name : relative + "/" + name;
        std::string const full = root + "/" + entryPath;
        struct stat status {};
        if (::lstat(full.c_str(), &status) != 0 || into.size() >= kMaxEntries) {
            continue;
        }
        TreeEntry entry;
        entry.mode = status.st_mode & 07777;
        if (S_ISREG(status.st_mode)) {
            entry.kind = TreeEntry::Kind::File;
            entry.content = ReadFileBytes(full);
        } else if (S_ISLNK(status.st_mode)) {
            entry.kind = TreeEntry::Kind::Symlink;
            entry.content = ReadLinkTarget(full);
        } else if (S_ISDIR(status.st_mode)) {
            entry.kind = TreeEntry::Kind::Directory;
        }
        into[entryPath] = entry;
        if (entry.kind == TreeEntry::Kind::Directory && depth < kMaxDepth) {
            Walk(root, entryPath, depth + 1, into);
        }
    }
}

char const* KindName(TreeEntry::Kind kind) {
    switch (kind) {
        case TreeEntry::Kind::File:
            return "file";
        case TreeEntry::Kind::Directory:
            return "directory";
        case TreeEntry::Kind::Symlink:
            return "symbolic link";
        case TreeEntry::Kind::Other:
            break;
    }
    return "pipe, socket or device";
}

}  // namespace

TreeSnapshot SnapshotTree(std::string const& root) {
    TreeSnapshot snapshot;
    Walk(root, "", 0, snapshot);
    return snapshot;
}

std::string DescribeDifference(TreeSnapshot const& before, TreeSnapshot const& after) {
    for (auto const& [path, entry] : before) {
        auto const found = after.find(path);
        if (found == after.end()) {
            return std::string(KindName(entry.kind)) + " " + path + " is gone";
        }
        if (!(found->second == entry)) {
            return std::string(KindName(entry.kind)) + " " + path + " changed";
        }
    }
    for (auto const& [path, entry] : after) {
        if (!before.contains(path)) {
            return std::string(KindName(entry.kind)) + " " + path + " appeared";
        }
    }
    return "";
}

}  // namespace qm::fuzz
