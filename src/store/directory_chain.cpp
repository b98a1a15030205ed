#include "store/directory_chain.h"

#include <algorithm>

#include "base/file_system.h"

namespace qm::store {
namespace {

// Calls `visit` with every directory named by a prefix of `path` that ends before a separator,
// shortest first. A separator in the first position names no directory.
template <typename Visit>
void ForEachDirectoryPrefix(std::string const& path, Visit visit) {
    for (std::size_t i = 1; i < path.size(); ++i) {
        if (path[i] == '/') {
            visit(path.substr(0, i));
        }
    }
}

}  // namespace

std::string NormalisePath(std::string_view path) {
    // The text ends at its first NUL, as a C string would.
    path = path.substr(0, std::min(path.find('\0'), kMaxPathText));
    std::string normalised(path);
    std::replace(normalised.begin(), normalised.end(), '\\', '/');
    return normalised;
}

std::string CreateDirectoryChain(std::string_view path) {
    std::string normalised = NormalisePath(path);
    ForEachDirectoryPrefix(normalised, [](std::string const& directory) {
        // An existing directory or a refused one is passed over; a failure that matters shows
        // up when the file itself is written.
        base::MakeDirectory(directory);
    });
    return normalised;
}

void RemoveDirectoryChain(std::string_view path) {
    ForEachDirectoryPrefix(NormalisePath(path), [](std::string const& directory) {
        // Only an empty directory goes; anything else stays without a word.
        base::RemoveEmptyDirectory(directory);
    });
}

}  // namespace qm::store
