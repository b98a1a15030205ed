#include "update/partial_downloads.h"

#include <algorithm>
#include <set>

#include "base/directory.h"
#include "base/file_names.h"
#include "base/file_system.h"
#include "store/directory_chain.h"
#include "store/profile_file.h"
#include "update/checksum_record.h"
#include "update/commit_journal.h"
#include "update/download.h"
#include "update/staged_files.h"

namespace qm::update {
std::optional<std::string> PartialPathOf(std::string const& targetPath) {
    std::string_view const name = base::BaseName(targetPath);
    std::string_view const prefix = kPartialPrefix;
    if (name.empty() || name.size() + prefix.size() > base::kLongestFileName ||
        !store::IsProfileKey(targetPath)) {
        return std::nullopt;
    }
    return base::DirectoryOf(targetPath) + "/" + std::string(prefix) + std::string(name);
}

bool NamesWorkingFile(std::string_view localPath) {
    auto const isWorking = [](std::string_view name) {
        std::span<const std::string_view> const own = base::PlatformWorkingNames();
        return base::NameStartsWith(name, kPartialPrefix) ||
               base::NameStartsWith(name, kDownloadPrefix) ||
               base::NameStartsWith(name, kStagedPrefix) ||
               base::NameStartsWith(name, kJournalPrefix) ||
               std::any_of(own.begin(), own.end(), [&](std::string_view prefix) {
                   return base::NameStartsWith(name, prefix);
               });
    };
    std::size_t const separator = localPath.find_last_of("/\\");
    std::string_view const name =
        separator == std::string_view::npos ? localPath : localPath.substr(separator + 1);
    return isWorking(name) ||
           base::IsAliasOfWorkingFile(store::NormalisePath(localPath), isWorking);
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
            base::RemoveRegularFile(*partial);
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
