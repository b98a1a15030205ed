#include "base/file_moves.h"

#include <optional>

#include "base/directory.h"

namespace qm::base {

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
