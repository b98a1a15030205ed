// The operator's list of obsolete files that updaters must delete: a text file with one local
// path per line. Blank lines and lines starting with '#' are skipped; blanks around a path and a
// CR before the line end are dropped.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "update_server/outcome.h"

namespace qm::server {

Outcome<std::vector<std::string>> ReadDeletionFile(std::filesystem::path const& path);

}  // namespace qm::server
