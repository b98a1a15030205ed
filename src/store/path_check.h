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

// The platform's part of that check, for a path whose text passed the shared rules: on POSIX
// systems, the existing directories along the path must resolve inside the current directory;
// on Windows also every component must name a plain file or directory there (no device, no
// stream, nothing that Windows shortens; see windows_name_rules.h), and the existing directories
// must lead, through any reparse point, to the current directory or below it.
bool FileSystemKeepsInside(std::string_view localPath);

}  // namespace qm::store
