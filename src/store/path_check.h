// Keeps the updater inside its directory: decides whether a local path that came from the server
// names something inside the current directory.
#pragma once

#include <string_view>

namespace qm::store {

// True when `localPath` (either separator) stays inside the current directory. Refused: empty
// paths, absolute paths ('/' or '\' first), drive letters such as "C:", any ".." component, any
// NUL byte, and paths whose already existing directories resolve (through symbolic links) to
// somewhere outside the current directory.
bool StaysInsideCurrentDirectory(std::string_view localPath);

}  // namespace qm::store
