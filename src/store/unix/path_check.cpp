#include "store/path_check.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>

namespace qm::store {
namespace {

std::optional<std::string> ResolvedPath(char const* path) {
    std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path, nullptr), &std::free);
    if (!resolved) {
        return std::nullopt;
    }
    return std::string(resolved.get());
}

bool IsWithin(std::string const& resolved, std::string const& base) {
    if (base == "/") {
        return true;
    }
    return resolved.compare(0, base.size(), base) == 0 &&
           (resolved.size() == base.size() || resolved[base.size()] == '/');
}

// Every directory prefix of the path that already exists must resolve, through any symbolic
// links, to the current directory or below it. The last component is not resolved: it is the
// file itself, which is replaced or deleted, never written through.
bool ExistingDirectoriesStayInside(std::string_view path) {
    std::optional<std::string> const base = ResolvedPath(".");
    if (!base) {
        return false;
    }
    std::string prefix(path);
    for (char& c : prefix) {
        if (c == '\\') {
            c = '/';
        }
    }
    for (std::size_t i = 1; i < prefix.size(); ++i) {
        if (prefix[i] != '/') {
            continue;
        }
        std::string const directory = prefix.substr(0, i);
        struct stat status {};
        if (::lstat(directory.c_str(), &status) != 0) {
            // Nothing further along can exist either; what is created later is created inside.
            return errno == ENOENT || errno == ENOTDIR;
        }
        std::optional<std::string> const resolved = ResolvedPath(directory.c_str());
        if (!resolved || !IsWithin(*resolved, *base)) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool FileSystemKeepsInside(std::string_view localPath) {
    return ExistingDirectoriesStayInside(localPath);
}

}  // namespace qm::store
