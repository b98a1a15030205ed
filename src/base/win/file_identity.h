// Which file a name leads to on Windows: the volume and the file's index on it. Two names with
// the same identity are one file, whatever their text (a long name and its short 8.3 alias).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace qm::base::win {

struct FileIdentity {
    std::uint32_t volume = 0;
    std::uint64_t index = 0;
    bool operator==(FileIdentity const&) const = default;
};

// What the alias check asks of the system, so that tests can show what wine cannot.
struct IdentityCalls {
    // The identity of the file `path` leads to (no link followed); nothing when there is none.
    std::function<std::optional<FileIdentity>(std::string const& path)> identityOf;
    // The long names of the plain files in `directory`.
    std::function<std::vector<std::string>(std::string const& directory)> namesIn;
};

IdentityCalls SystemIdentityCalls();

// Whether `path` is another name of a file in its directory whose long name `isWorking` picks.
// Only a name that can be a generated short alias (it holds a '~') is looked into.
bool IsAliasOf(std::string const& path, std::function<bool(std::string_view name)> const& isWorking,
               IdentityCalls const& calls);

}  // namespace qm::base::win
