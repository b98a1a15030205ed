// Turning the release directory and the deletion list into a catalog, at start and on every
// rescan.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>

#include "update_server/outcome.h"
#include "update_server/release_catalog.h"

namespace qm::server {

class ReleaseLoader {
  public:
    ReleaseLoader(std::filesystem::path root, std::optional<std::filesystem::path> deletionFile);

    // Scans the directory and reads the deletion list afresh. The catalog's root is the directory
    // that `root` leads to (through symbolic links) at the time of the scan.
    Outcome<std::shared_ptr<ReleaseCatalog const>> Load() const;

    std::filesystem::path const& root() const { return root_; }

  private:
    std::filesystem::path root_;
    std::optional<std::filesystem::path> deletionFile_;
};

}  // namespace qm::server
