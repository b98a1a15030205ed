#include "update/partial_downloads.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <set>

#include "base/directory.h"
#include "store/profile_file.h"
#include "update/checksum_record.h"
#include "update/commit_journal.h"
#include "update/download.h"
#include "update/staged_files.h"

namespace qm::update {
namespace {

bool IsRegularFile(std::string const& path) {
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

void RemoveRegularFile(std::string const& path) {
    if (IsRegularFile(path)) {
        ::unlink(path.c_str());
    }
}

}  // namespace

std::optional<std::string> PartialPathOf(std::string const& targetPath) {
    std::string_view const name = base::BaseName(targetPath);
    std::string_view const prefix = kPartialPrefix;
    if (name.empty() || name.size() + prefix.size() > NAME_MAX ||
        !store::IsProfileKey(targetPath)) {
        return std::nullopt;
    }
    return base::DirectoryOf(targetPath) + "/" + std::string(prefix) + std::string(name);
}

bool NamesWorkingFile(std::string_view localPath) {
    std::size_t const separator = localPath.find_last_of("/\\");
    std::string_view const name =
        separator == std::string_view::npos ? localPath : localPath.substr(separator + 1);
    return name.starts_with(kPartialPrefix) || name.starts_with(kDownloadPrefix) ||
           name.starts_with(kStagedPrefix) || name.starts_with(kJournalPrefix);
}

std::optional<std::uint32_t> RecordedPartial(std::string const& targetPath) {
    std::optional<std::string> const value =
        store::ReadProfileValue(kChecksumFile, kPartialSection, targetPath);
    if (!value) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(store::ParseUnsignedValue(value));
}

bool RecordPartial(std::string const& targetPath, std::uint32_t crc) {
    return store::WriteProfileValue(kChecksumFile, kPartialSection, targetPath,
                                    std::to_string(static_cast<unsigned long>(crc)));
}

bool ForgetPartial(std::string const& targetPath) {
    return store::RemoveProfileValue(kChecksumFile, kPartialSection, targetPath);
}

void RemoveAllPartials() {
    for (auto const& [target, crc] : store::ReadProfileSection(kChecksumFile, kPartialSection)) {
        if (std::optional<std::string> const partial = PartialPathOf(target)) {
            RemoveRegularFile(*partial);
        }
        ForgetPartial(target);
    }
}

void RemoveUnrecordedPartials(std::string const& directory) {
    std::set<std::string> recorded;
    for (auto const& [target, crc] : store::ReadProfileSection(kChecksumFile, kPartialSection)) {
        if (base::DirectoryOf(target) == directory) {
            recorded.insert(std::string(base::BaseName(target)));
        }
    }
    if (std::optional<base::Directory> const opened = base::Directory::Open(directory)) {
        std::string_view const prefix = kPartialPrefix;
        opened->RemoveFilesIf([&](std::string_view name) {
            return name.starts_with(prefix) &&
                   !recorded.contains(std::string(name.substr(prefix.size())));
        });
    }
}

}  // namespace qm::update
