#include "update_server/release_loader.h"

#include <utility>

#include "update_server/deletion_file.h"
#include "update_server/release_scan.h"

namespace qm::server {

ReleaseLoader::ReleaseLoader(std::filesystem::path root,
                             std::optional<std::filesystem::path> deletionFile)
    : root_(std::move(root)), deletionFile_(std::move(deletionFile)) {}

Outcome<std::shared_ptr<ReleaseCatalog const>> ReleaseLoader::Load() const {
    using Result = Outcome<std::shared_ptr<ReleaseCatalog const>>;
    std::vector<std::string> deletions;
    if (deletionFile_) {
        Outcome<std::vector<std::string>> read = ReadDeletionFile(*deletionFile_);
        if (!read.ok()) {
            return Result::Failure(read.reason());
        }
        deletions = std::move(read.value());
    }
    // The catalog names the directory the root leads to now: when the root is a link that the
    // next release swaps, connections served this catalog go on reading this release.
    std::error_code error;
    std::filesystem::path resolved = std::filesystem::canonical(root_, error);
    if (error) {
        resolved = root_;  // the scan says what is wrong with it
    }
    Outcome<std::vector<ReleaseFile>> scanned = ScanRelease(resolved);
    if (!scanned.ok()) {
        return Result::Failure(scanned.reason());
    }
    Outcome<ReleaseCatalog> built =
        ReleaseCatalog::Build(resolved, std::move(scanned.value()), std::move(deletions));
    if (!built.ok()) {
        return Result::Failure(built.reason());
    }
    return Result::Success(std::make_shared<ReleaseCatalog const>(std::move(built.value())));
}

}  // namespace qm::server
