#include "support/release.h"

#include <optional>

#include "support/random_bytes.h"
#include "support/temp_dir.h"

namespace qm::test {
namespace fs = std::filesystem;

namespace {

std::string ObsoleteContent(std::string const& path) {
    return "an obsolete file: " + path + "\n";
}

}  // namespace

std::string Pattern(std::size_t size, unsigned seed) {
    std::vector<std::uint8_t> const bytes = PatternBytes(size, 2166136261u ^ seed);
    return {bytes.begin(), bytes.end()};
}

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
    // Seeded by the path, so that each file differs.
    std::uint32_t seed = 2166136261u;
    for (char c : file.path) {
        seed = (seed ^ static_cast<std::uint8_t>(c)) * 16777619u;
    }
    return Pattern(file.size, seed ^ version);
}

void WriteTreeFile(fs::path const& root, TreeFile const& file, unsigned version) {
    WriteFile(root / file.path, FileContents(file, version));
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
        } else if (ReadFile(release / path) != ReadFile(client / path)) {
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

void Release::WriteServed(fs::path const& root, fs::path const& deletions) const {
    for (ReleaseFile const& file : files) {
        WriteFile(root / file.path, file.newContent);
    }
    std::string list;
    for (std::string const& path : obsolete) {
        list += path + "\n";
    }
    WriteFile(deletions, list);
}

void Release::WriteOldServed(fs::path const& root) const {
    for (ReleaseFile const& file : files) {
        if (!file.oldContent.empty()) {
            WriteFile(root / file.path, file.oldContent);
        }
    }
    for (std::string const& path : obsolete) {
        WriteFile(root / path, ObsoleteContent(path));
    }
}

void Release::MakeOutdated(fs::path const& client) const {
    for (ReleaseFile const& file : files) {
        std::error_code ignored;
        if (file.oldContent.empty()) {
            fs::remove(client / file.path, ignored);
        } else {
            WriteFile(client / file.path, file.oldContent);
        }
    }
    for (std::string const& path : obsolete) {
        WriteFile(client / path, ObsoleteContent(path));
    }
    std::error_code ignored;
    fs::remove(client / "crc.ini", ignored);
}

std::vector<std::string> Release::Differences(fs::path const& client) const {
    std::vector<std::string> lines;
    for (ReleaseFile const& file : files) {
        std::optional<std::string> const content = ReadIfPresent(client / file.path);
        if (!content) {
            lines.push_back("missing " + file.path);
        } else if (*content != file.newContent) {
            lines.push_back("differs " + file.path);
        }
    }
    for (std::string const& path : obsolete) {
        if (fs::exists(fs::symlink_status(client / path))) {
            lines.push_back("still has " + path);
        }
    }
    return lines;
}

std::string Release::ListOf(std::string const& path) {
    std::size_t const slash = path.find('/');
    return slash == std::string::npos ? "quillmesh.ini" : path.substr(0, slash) + ".ini";
}

Release MixedRelease() {
    Release release;
    unsigned seed = 1;
    auto add = [&](std::string path, std::size_t oldSize, std::size_t newSize) {
        release.files.push_back({std::move(path), oldSize == 0 ? "" : Pattern(oldSize, seed),
                                 Pattern(newSize, seed + 1000)});
        ++seed;
    };
    add("small.txt", 40, 100);
    add("chunk.bin", 2027, 2027);
    add("two-chunks.bin", 4000, 4054);
    add("mid.bin", 60000, 50001);
    add("fresh.txt", 0, 3000);  // the client does not have it yet
    add("data/large.bin", 3 * 1024 * 1024, 3 * 1024 * 1024 + 17);
    add("data/odd.bin", 2028, 1);
    add("data/maps/town.map", 9000, 12000);
    add("gfx/logo.png", 100000, 250000);
    add("gfx/icons/small.ico", 700, 766);
    release.obsolete = {"obsolete.txt", "data/obsolete.dat"};
    return release;
}

Release SmallRelease() {
    Release release;
    for (unsigned i = 0; i < 12; ++i) {
        std::string const path = (i < 4   ? ""
                                  : i < 8 ? "data/"
                                          : "gfx/") +
                                 std::string("file") + std::to_string(i) + ".bin";
        std::size_t const size = 1 + (i * 3571u) % 40000;
        release.files.push_back({path, Pattern(size / 2 + 1, i), Pattern(size, 100 + i)});
    }
    return release;
}

Release TwoHundredFileRelease() {
    Release release;
    char const* const directories[] = {"",
                                       "data/",
                                       "data/maps/",
                                       "data/text/",
                                       "gfx/icons/small/",
                                       "gfx/icons/large/",
                                       "gfx/added/",
                                       "data/maps/added/"};
    for (unsigned i = 0; i < 200; ++i) {
        // The two directories named "added" hold only new files: the client lacks them.
        unsigned const directory = i % 10 == 0 ? 6 + (i / 10) % 2 : i % 6;
        std::size_t size = 1 + (i * 7919u) % 9000u;
        if (i % 50 == 17) {
            size = 100'000 + i;  // kept as a partial download when cut off
        } else if (i == 111) {
            size = std::size_t{1} << 20;
        }
        std::string const path = std::string(directories[directory]) + "file" + std::to_string(i) +
                                 (i % 3 == 0 ? ".pak" : ".dat");
        bool const added = i % 10 == 0;
        bool const unchanged = i % 10 == 5;
        std::string const next = Pattern(size, 5000 + i);
        release.files.push_back({path,
                                 added       ? ""
                                 : unchanged ? next
                                             : Pattern(size / 2 + i % 7 + 1, 9000 + i),
                                 next});
    }
    for (unsigned i = 0; i < 20; ++i) {
        // Five go with their directories (data/old/, data/old/deeper/, gfx/retired/).
        char const* const where = i < 5    ? (i < 3 ? "data/old/deeper/" : "data/old/")
                                  : i < 7  ? "gfx/retired/"
                                  : i < 12 ? ""
                                  : i < 16 ? "data/maps/"
                                           : "gfx/icons/small/";
        release.obsolete.push_back(std::string(where) + "obsolete" + std::to_string(i) + ".old");
    }
    return release;
}

}  // namespace qm::test
