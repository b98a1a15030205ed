#include "base/file_moves.h"

#include <cstdio>
#include <optional>

#include "base/directory.h"

namespace qm::base {

bool MoveOver(std::string const& from, std::string const& to) {
    return std::rename(from.c_str(), to.c_str()) == 0;
}

bool SyncDirectoryChain(std::string const& directory) {
    for (std::string path = directory;; path = DirectoryOf(path)) {
        std::optional<Directory> const opened = Directory::Open(path);
        if (!opened || !opened->Sync()) {
            return false;
        }
        if (path == "." || path == "/") {
            return true;
        }
    }
}

}  // namespace qm::base
