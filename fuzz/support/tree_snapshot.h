// What a directory tree holds, entry by entry, so that a harness can tell what an input changed:
// every file's bytes and permission bits, every symbolic link's target, every directory. The walk
// never follows a symbolic link and stops at fixed limits of depth and size.
#pragma once

#include <sys/types.h>

#include <map>
#include <string>

namespace qm::fuzz {

struct TreeEntry {
    enum class Kind { File, Directory, Symlink, Other };
    Kind kind = Kind::Other;
    mode_t mode = 0;
    std::string content;  // a file's bytes, a link's target

    bool operator==(TreeEntry const&) const = default;
};

// Paths relative to the root, with '/' between components.
using TreeSnapshot = std::map<std::string, TreeEntry>;

TreeSnapshot SnapshotTree(std::string const& root);

// "" when the two are the same, otherwise the first difference in words.
std::string DescribeDifference(TreeSnapshot const& before, TreeSnapshot const& after);

}  // namespace qm::fuzz
