// Creating and removing the directories along the path of a file.
//
// Both '/' and '\' separate components on input; the path handed back uses '/' only. A path is
// cut to its first kMaxPathText characters before anything is done with it.
#pragma once

#include <string>
#include <string_view>

namespace qm::store {

inline constexpr std::size_t kMaxPathText = 400;

// Normalises `path` (cut to 400 characters, every '\' turned into '/') and creates each directory
// named by a prefix that ends before a separator, shortest first. A separator in the first
// position names no directory; the last component (the file name) is never created. Failures
// (the directory exists, no permission) are passed over. Returns the normalised path.
std::string CreateDirectoryChain(std::string_view path);

// Walks the same prefixes as CreateDirectoryChain, shortest first, and removes each directory
// that is empty when its turn comes. In practice only the innermost directory is removed, and
// only when it is empty. Failures are ignored.
void RemoveDirectoryChain(std::string_view path);

// The path with every '\' turned into '/', cut to 400 characters, nothing created.
std::string NormalisePath(std::string_view path);

}  // namespace qm::store
