#include "update/staged_files.h"

#include "base/directory.h"
#include "base/file_system.h"
#include "checksum/checksum.h"

namespace qm::update {

std::optional<std::string> StagedPathOf(std::string const& targetPath) {
    std::string_view const name = base::BaseName(targetPath);
    std::string_view const prefix = kStagedPrefix;
    if (name.empty() || name.size() + prefix.size() > base::kLongestFileName) {
        return std::nullopt;
    }
    return base::DirectoryOf(targetPath) + "/" + std::string(prefix) + std::string(name);
}

std::optional<std::uint32_t> StagedChecksum(std::string const& targetPath) {
    std::optional<std::string> const staged = StagedPathOf(targetPath);
    if (!staged || !base::RegularFileSize(*staged)) {
        return std::nullopt;
    }
    return checksum::FileCrc32(*staged);
}

void DiscardStaged(std::string const& targetPath) {
    if (std::optional<std::string> const staged = StagedPathOf(targetPath)) {
        base::RemoveRegularFile(*staged);
    }
}

void RemoveStagedUnless(std::string const& directory,
                        std::function<bool(std::string const& stagedPath)> const& wanted) {
    std::optional<base::Directory> const opened = base::Directory::Open(directory);
    if (!opened) {
        return;
    }
    opened->RemoveFilesIf([&](std::string_view name) {
        return name.starts_with(kStagedPrefix) && !wanted(directory + "/" + std::string(name));
    });
}

}  // namespace qm::update
