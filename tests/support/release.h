// Releases for runs against the reference server, and the ways a client directory is compared
// with them. A tree is a list of paths and sizes whose contents follow from path, size and a
// version number. A Release holds an old and a new content for each file, for client directories
// that start outdated: files of several sizes (around the 2027-byte chunk and up to megabytes) in
// several lists, files the client does not have yet, and obsolete files that the server deletes.
#pragma once

#include <cstddef>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

namespace qm::test {

struct TreeFile {
    std::string path;  // relative, '/' separators
    std::size_t size;
};

// About a hundred files in nested directories, from 0 bytes to 3 MiB, with the sizes around the
// 2027-byte chunk boundaries among them.
std::vector<TreeFile> HundredFileTree();
// Thirty smaller files in a few directories.
std::vector<TreeFile> SmallTree();

// The bytes of a file of the tree; a different `version` gives different bytes of the same size.
std::string FileContents(TreeFile const& file, unsigned version = 1);
void WriteTree(std::filesystem::path const& root, std::vector<TreeFile> const& files,
               unsigned version = 1);
void WriteTreeFile(std::filesystem::path const& root, TreeFile const& file, unsigned version = 1);

// Every way `client` differs from `release`, one line each ("missing a/b", "extra c",
// "differs d"); files named in `ignored` (relative paths) are left out on the client's side.
std::vector<std::string> ReleaseDifferences(std::filesystem::path const& release,
                                            std::filesystem::path const& client,
                                            std::set<std::string> const& ignored);

// Relative paths of the regular files below `root`.
std::set<std::string> FilesBelow(std::filesystem::path const& root);

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
    // The old release as a server would have served it: the old files and the obsolete ones, so
    // that a complete run against it leaves a client directory wholly old, crc.ini included.
    void WriteOldServed(std::filesystem::path const& root) const;
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
// An update of 200 files in quillmesh.ini, data.ini and gfx.ini: 160 changed, 20 new (some in
// directories the client lacks), 20 unchanged, from 1 byte to 1 MiB (a few above the 64 KiB of
// a resumable download); and 20 obsolete files, some of them the last files of their
// directories, so that deleting them removes the directories too.
Release TwoHundredFileRelease();

}  // namespace qm::test
