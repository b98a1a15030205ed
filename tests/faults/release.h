// A release served by the reference server, with an old version of each file for the client
// directories: files of several sizes (around the 2027-byte chunk and up to megabytes) in three
// lists, a file the client does not have yet, and an obsolete file that the server deletes.
#pragma once

#include <cstddef>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "support/profile_text.h"

namespace qm::test {

struct ReleaseFile {
    std::string path;        // relative, '/' separators; its top directory names its list
    std::string oldContent;  // what an outdated client has; empty: the client lacks the file
    std::string newContent;
};

struct Release {
    std::vector<ReleaseFile> files;
    std::vector<std::string> obsolete;  // paths the server tells the client to delete

    // The served release: the new files below `root`, and the deletion list in `deletions`.
    void WriteServed(std::filesystem::path const& root,
                     std::filesystem::path const& deletions) const;
    // Puts a client directory back to the old state: old files, obsolete files, no crc.ini.
    void MakeOutdated(std::filesystem::path const& client) const;
    // Where the client differs from the new release ("differs X", "missing X", "still has X").
    std::vector<std::string> Differences(std::filesystem::path const& client) const;
    // The list that holds `path`: "quillmesh.ini" for top-level files, "D.ini" for files in D.
    static std::string ListOf(std::string const& path);
};

// Deterministic bytes of `size`, different for each `seed`.
std::string Pattern(std::size_t size, unsigned seed);

// A release of small and large files: 1 byte to 3 MiB, in quillmesh.ini, data.ini and gfx.ini.
Release MixedRelease();
// A small release for many runs: a dozen files up to 40 KiB.
Release SmallRelease();

}  // namespace qm::test
