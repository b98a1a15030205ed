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
    Outcome<std::vector<ReleaseFile>> scanned = ScanRelease(root_);
    if (!scanned.ok()) {
        return Result::Failure(scanned.reason());
    }
    Outcome<ReleaseCatalog> built =
        ReleaseCatalog::Build(root_, std::move(scanned.value()), std::move(deletions));
    if (!built.ok()) {
        return Result::Failure(built.reason());
    }
    return Result::Success(std::make_shared<ReleaseCatalog const>(std::move(built.value())));
}

}  // namespace qm::server
