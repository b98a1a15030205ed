#include "support/tree_snapshot.h"

#include <algorithm>

#include "support/temp_dir.h"

namespace qm::test {
namespace {

constexpr int kMaxDepth = 24;
constexpr std::size_t kMaxEntries = 4096;

// The first kMaxEntries names in the directory; none when it cannot be read.
std::vector<std::string> DirectoryNames(std::string const& path) {
    std::vector<std::string> names;
    std::error_code error;
    for (auto it = std::filesystem::directory_iterator(path, error);
         !error && it != std::filesystem::directory_iterator() && names.size() < kMaxEntries;
         it.increment(error)) {
        names.push_back(it->path().filename().string());
    }
    return names;
}

void Walk(std::string const& root, std::string const& relative, int depth,
          SnapshotOptions const& options, TreeSnapshot& into) {
    for (std::string const& name :
         DirectoryNames(relative.empty() ? root : root + "/" + relative)) {
        if (relative.empty() && options.skipped.contains(name)) {
            continue;
        }
        std::string const entryPath = relative.empty() ? name : relative + "/" + name;
        std::string const full = root + "/" + entryPath;
        std::optional<TreeEntry> read = ReadTreeEntry(full, options);
        if (!read || into.size() >= kMaxEntries) {
            continue;
        }
        TreeEntry const& entry = into[entryPath] = std::move(*read);
        if (entry.kind == TreeEntry::Kind::Directory && depth < kMaxDepth) {
            Walk(root, entryPath, depth + 1, options, into);
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

TreeSnapshot SnapshotTree(std::filesystem::path const& root, SnapshotOptions const& options) {
    TreeSnapshot snapshot;
    Walk(root.string(), "", 0, options, snapshot);
    return snapshot;
}

std::vector<std::string> TreeDifferences(TreeSnapshot const& before, TreeSnapshot const& after) {
    std::vector<std::string> lines;
    for (auto const& [path, entry] : after) {
        auto const found = before.find(path);
        if (found == before.end()) {
            lines.push_back("new " + path);
        } else if (!(found->second == entry)) {
            lines.push_back("changed " + path);
        }
    }
    for (auto const& [path, entry] : before) {
        if (!after.contains(path)) {
            lines.push_back("gone " + path);
        }
    }
    return lines;
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

std::vector<std::string> ListedPaths(TreeSnapshot const& snapshot) {
    std::vector<std::string> paths;
    for (auto const& [path, entry] : snapshot) {
        paths.push_back(entry.kind == TreeEntry::Kind::Directory ? path + "/" : path);
    }
    std::sort(paths.begin(), paths.end());
    return paths;
}

std::vector<std::string> TemporaryEntries(TreeSnapshot const& snapshot) {
    std::vector<std::string> found;
    for (auto const& [path, entry] : snapshot) {
        std::string const name = path.substr(path.rfind('/') + 1);
        if (name.starts_with(".quillmesh-download-") || name.starts_with(".crc.ini.") ||
            name == "tmpfile") {
            found.push_back(path);
        }
    }
    return found;
}

void FurnishSentinel(std::filesystem::path const& directory) {
    std::filesystem::create_directories(directory / "nested/deeper");
    std::filesystem::create_directories(directory / "empty");
    WriteFile(directory / "victim.txt", "must stay as it is\n");
    WriteFile(directory / "nested/deeper/victim.bin", std::string(5000, '\x5a'));
    WriteFile(directory / "crc.ini", "[GLOBAL_CRC]\nquillmesh.ini=1\n");
    WriteFile(directory / "upd.ini", "[GENERAL]\nSERVER=127.0.0.1\n");
    std::filesystem::create_symlink("victim.txt", directory / "link-to-victim");
}

}  // namespace qm::test
