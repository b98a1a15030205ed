// What a directory tree holds, entry by entry, to prove that a run left it alone: the type, the
// bytes of each file, the target of each symbolic link, the permission bits, and optionally the
// inode and modification time of every entry (so that a rewrite with the same bytes, or a file
// created and removed again in a directory, shows too).
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <ostream>
#include <set>
#include <string>
#include <vector>

namespace qm::faults {

struct TreeEntry {
    std::string path;     // relative, '/' separators, directories end in '/'
    char type = '?';      // 'f' file, 'd' directory, 'l' symbolic link, 'o' other
    std::string content;  // file bytes or link target
    mode_t mode = 0;
    std::uint64_t inode = 0;      // only with times
    std::int64_t modifiedNs = 0;  // only with times
    bool operator==(TreeEntry const&) const = default;
};

struct TreeSnapshot {
    std::vector<TreeEntry> entries;

    // Every entry below `root` (not the root itself), links not followed; top-level names in
    // `skipped` are left out with everything below them.
    static TreeSnapshot Of(std::filesystem::path const& root, bool withTimes,
                           std::set<std::string> const& skipped = {});
    bool operator==(TreeSnapshot const&) const = default;
};

// One line per difference: "new X", "gone X", "changed X".
std::vector<std::string> Differences(TreeSnapshot const& before, TreeSnapshot const& after);

std::ostream& operator<<(std::ostream& out, TreeSnapshot const& snapshot);

// Entries whose names mark temporary files of the updater (downloads, checksum records).
std::vector<std::string> TemporaryEntries(TreeSnapshot const& snapshot);

// A directory of files, subdirectories and a link, for a test to watch: it must never change.
void FurnishSentinel(std::filesystem::path const& directory);

}  // namespace qm::faults
