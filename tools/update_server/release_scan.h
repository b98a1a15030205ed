// Reading a release directory from disk: every regular file below it, with its size and CRC-32,
// each file read once.
#pragma once

#include <sys/stat.h>

#include <filesystem>
#include <vector>

#include "update_server/outcome.h"
#include "update_server/release_catalog.h"

namespace qm::server {

// The files below `root` (symbolic links to files count as files; linked directories are not
// entered), with paths relative to `root`. Refused: a root that is missing or no directory, and a
// file that cannot be read.
Outcome<std::vector<ReleaseFile>> ScanRelease(std::filesystem::path const& root);

// The identity of the file `status` describes.
FileIdentity IdentityOf(struct stat const& status);

}  // namespace qm::server
