#include "release_tree.h"

#include <fstream>
#include <iterator>

namespace qm::test {
namespace {

namespace fs = std::filesystem;

std::string ReadWhole(fs::path const& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

std::vector<TreeFile> HundredFileTree() {
    std::vector<TreeFile> files = {
        {"readme.txt", 1200},
        {"quillmesh", 300000},
        {"empty.flag", 0},
        {"one.byte", 1},
        {"chunk.minus.one", 2026},
        {"chunk.exact", 2027},
        {"chunk.plus.one", 2028},
        {"two.chunks", 4054},
        {"big.pak", 3 * 1024 * 1024},
        {"docs/a/b/c/d/deep.txt", 77},
        {"docs/a/b/c/empty", 0},
        {"docs/manual.html", 40000},
    };
    char const* directories[] = {
        "data",  "data/maps",  "data/maps/old", "gfx/icons/small", "gfx/icons/large",
        "sound", "sound/music"};
    std::size_t const sizes[] = {0, 13, 999, 2027, 5000, 12345, 65536, 100003, 250000};
    std::size_t counter = 0;
    for (char const* directory : directories) {
        for (int i = 0; i < 13; ++i) {
            std::size_t const size = sizes[counter % std::size(sizes)] + counter;
            files.push_back({std::string(directory) + "/file" + std::to_string(i) + ".bin", size});
            ++counter;
        }
    }
    return files;
}

std::vector<TreeFile> SmallTree() {
    std::vector<TreeFile> files = {{"readme.txt", 500}, {"quillmesh", 60000}};
    char const* directories[] = {"data", "data/maps", "gfx/icons", "sound"};
    for (char const* directory : directories) {
        for (int i = 0; i < 7; ++i) {
            files.push_back({std::string(directory) + "/f" + std::to_string(i) + ".bin",
                             std::size_t(1 + i * 4100 + i * i * 1000)});
        }
    }
    return files;
}

std::string FileContents(TreeFile const& file, unsigned version) {
    // A small linear congruential generator seeded by the path: quick, and different per file.
    std::uint32_t state = 2166136261u ^ version;
    for (char c : file.path) {
        state = (state ^ static_cast<std::uint8_t>(c)) * 16777619u;
    }
    std::string bytes(file.size, '\0');
    for (char& byte : bytes) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<char>(state >> 24);
    }
    return bytes;
}

void WriteTreeFile(fs::path const& root, TreeFile const& file, unsigned version) {
    fs::path const path = root / file.path;
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << FileContents(file, version);
}

void WriteTree(fs::path const& root, std::vector<TreeFile> const& files, unsigned version) {
    fs::create_directories(root);
    for (TreeFile const& file : files) {
        WriteTreeFile(root, file, version);
    }
}

std::set<std::string> FilesBelow(fs::path const& root) {
    std::set<std::string> paths;
    for (auto const& entry : fs::recursive_directory_iterator(root)) {
        if (entry.is_regular_file()) {
            paths.insert(entry.path().lexically_relative(root).generic_string());
        }
    }
    return paths;
}

std::vector<std::string> ReleaseDifferences(fs::path const& release, fs::path const& client,
                                            std::set<std::string> const& ignored) {
    std::set<std::string> const wanted = FilesBelow(release);
    std::set<std::string> have = FilesBelow(client);
    for (std::string const& path : ignored) {
        have.erase(path);
    }
    std::vector<std::string> differences;
    for (std::string const& path : wanted) {
        if (!have.contains(path)) {
            differences.push_back("missing " + path);
        } else if (ReadWhole(release / path) != ReadWhole(client / path)) {
            differences.push_back("differs " + path);
        }
    }
    for (std::string const& path : have) {
        if (!wanted.contains(path)) {
            differences.push_back("extra " + path);
        }
    }
    return differences;
}

}  // namespace qm::test
