// What a directory tree holds, entry by entry, to tell what a run changed: every file's bytes and
// permission bits, every symbolic link's target, every directory, and optionally the inode and
// modification time of each entry (so that a rewrite with the same bytes shows too). The walk
// never follows a symbolic link and stops at fixed limits of depth and entries.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace qm::test {

struct TreeEntry {
    enum class Kind { File, Directory, Symlink, Other };
    Kind kind = Kind::Other;
    mode_t mode = 0;
    std::string content;          // a file's bytes, a link's target
    std::uint64_t inode = 0;      // only with times
    std::int64_t modifiedNs = 0;  // only with times
    bool operator==(TreeEntry const&) const = default;
};

// Paths relative to the root, with '/' between components.
using TreeSnapshot = std::map<std::string, TreeEntry>;

struct SnapshotOptions {
    bool withTimes = false;
    std::set<std::string> skipped{};             // top-level names left out with all below them
    std::size_t maxFileBytes = std::size_t(-1);  // a file's bytes are read up to past this
};

TreeSnapshot SnapshotTree(std::filesystem::path const& root, SnapshotOptions const& options = {});
// One entry of the walk, never following a symbolic link; nothing when it cannot be looked at.
// The platform's part of the snapshot.
std::optional<TreeEntry> ReadTreeEntry(std::string const& path, SnapshotOptions const& options);

// One line per difference, by path: "new X", "gone X", "changed X".
std::vector<std::string> TreeDifferences(TreeSnapshot const& before, TreeSnapshot const& after);
// "" when the two are the same, otherwise the first difference in words.
std::string DescribeDifference(TreeSnapshot const& before, TreeSnapshot const& after);
// The snapshot's paths, sorted; directories end in '/'.
std::vector<std::string> ListedPaths(TreeSnapshot const& snapshot);
// Paths whose names mark temporary files of the updater (downloads, checksum records).
std::vector<std::string> TemporaryEntries(TreeSnapshot const& snapshot);

// A directory of files, subdirectories and a link, for a test to watch: it must never change.
void FurnishSentinel(std::filesystem::path const& directory);

}  // namespace qm::test
