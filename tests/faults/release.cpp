#include "faults/release.h"

#include "support/temp_dir.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>

namespace qm::test {
namespace {

namespace fs = std::filesystem;

void WriteWithDirectories(fs::path const& path, std::string const& content) {
    fs::create_directories(path.parent_path());
    WriteFile(path, content);
}

std::optional<std::string> ReadIfPresent(fs::path const& path) {
    return fs::exists(path) ? std::optional(ReadFile(path)) : std::nullopt;
}

}  // namespace

std::string Pattern(std::size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    std::uint32_t state = 2166136261u ^ seed;
    for (char& byte : bytes) {
        state = state * 1103515245u + 12345u;
        byte = static_cast<char>(state >> 23);
    }
    return bytes;
}

void Release::WriteServed(fs::path const& root, fs::path const& deletions) const {
    for (ReleaseFile const& file : files) {
        WriteWithDirectories(root / file.path, file.newContent);
    }
    std::string list;
    for (std::string const& path : obsolete) {
        list += path + "\n";
    }
    WriteWithDirectories(deletions, list);
}

void Release::MakeOutdated(fs::path const& client) const {
    for (ReleaseFile const& file : files) {
        std::error_code ignored;
        if (file.oldContent.empty()) {
            fs::remove(client / file.path, ignored);
        } else {
            WriteWithDirectories(client / file.path, file.oldContent);
        }
    }
    for (std::string const& path : obsolete) {
        WriteWithDirectories(client / path, "an obsolete file: " + path + "\n");
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

}  // namespace qm::test
