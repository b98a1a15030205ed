// Trees of files for the tests: written with contents that depend on path, size and a version
// number, read back, and compared.
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

}  // namespace qm::test
