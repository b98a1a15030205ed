#include "faults/tree_snapshot.h"

#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <map>

namespace qm::faults {
namespace {

namespace fs = std::filesystem;

std::string ReadAll(fs::path const& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteAll(fs::path const& path, std::string const& content) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << content;
}

}  // namespace

TreeSnapshot TreeSnapshot::Of(fs::path const& root, bool withTimes,
                              std::set<std::string> const& skipped) {
    TreeSnapshot snapshot;
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(root, error);
         !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
        std::string relative = it->path().lexically_relative(root).generic_string();
        std::string const top = relative.substr(0, relative.find('/'));
        if (skipped.contains(top)) {
            std::error_code ignored;
            if (it->is_directory(ignored) && !it->is_symlink(ignored)) {
                it.disable_recursion_pending();
            }
            continue;
        }
        struct stat status {};
        if (::lstat(it->path().c_str(), &status) != 0) {
            continue;
        }
        TreeEntry entry;
        entry.mode = status.st_mode & 07777;
        if (S_ISREG(status.st_mode)) {
            entry.type = 'f';
            entry.content = ReadAll(it->path());
        } else if (S_ISDIR(status.st_mode)) {
            entry.type = 'd';
            relative += '/';
        } else if (S_ISLNK(status.st_mode)) {
            entry.type = 'l';
            entry.content = fs::read_symlink(it->path(), error).string();
            error.clear();
        } else {
            entry.type = 'o';
        }
        if (withTimes) {
            entry.inode = status.st_ino;
            entry.modifiedNs = static_cast<std::int64_t>(status.st_mtim.tv_sec) * 1000000000 +
                               status.st_mtim.tv_nsec;
        }
        entry.path = relative;
        snapshot.entries.push_back(std::move(entry));
    }
    std::sort(snapshot.entries.begin(), snapshot.entries.end(),
              [](TreeEntry const& a, TreeEntry const& b) { return a.path < b.path; });
    return snapshot;
}

std::vector<std::string> Differences(TreeSnapshot const& before, TreeSnapshot const& after) {
    std::map<std::string, TreeEntry const*> old;
    for (TreeEntry const& entry : before.entries) {
        old[entry.path] = &entry;
    }
    std::vector<std::string> lines;
    for (TreeEntry const& entry : after.entries) {
        auto found = old.find(entry.path);
        if (found == old.end()) {
            lines.push_back("new " + entry.path);
            continue;
        }
        if (!(*found->second == entry)) {
            lines.push_back("changed " + entry.path);
        }
        old.erase(found);
    }
    for (auto const& [path, entry] : old) {
        lines.push_back("gone " + path);
    }
    return lines;
}

std::ostream& operator<<(std::ostream& out, TreeSnapshot const& snapshot) {
    for (TreeEntry const& entry : snapshot.entries) {
        out << "\n  " << entry.type << " " << entry.path << " (" << entry.content.size()
            << " bytes)";
    }
    return out;
}

void FurnishSentinel(fs::path const& directory) {
    WriteAll(directory / "victim.txt", "must stay as it is\n");
    WriteAll(directory / "nested/deeper/victim.bin", std::string(5000, '\x5a'));
    WriteAll(directory / "crc.ini", "[GLOBAL_CRC]\nquillmesh.ini=1\n");
    WriteAll(directory / "upd.ini", "[GENERAL]\nSERVER=127.0.0.1\n");
    fs::create_directories(directory / "empty");
    fs::create_symlink("victim.txt", directory / "link-to-victim");
}

std::vector<std::string> TemporaryEntries(TreeSnapshot const& snapshot) {
    std::vector<std::string> found;
    for (TreeEntry const& entry : snapshot.entries) {
        std::string const name =
            entry.path.substr(entry.path.rfind('/', entry.path.size() - 2) + 1);
        if (name.starts_with(".quillmesh-download-") || name.starts_with(".crc.ini.") ||
            name == "tmpfile") {
            found.push_back(entry.path);
        }
    }
    return found;
}

}  // namespace qm::faults
