// How the file system compares the names of the updater's working files, one implementation per
// platform: byte for byte on POSIX systems; on Windows without regard to case, with the working
// files of its own (targets set aside, the run lock), and with short 8.3 aliases, which name a
// file without its prefix.
#pragma once

#include <functional>
#include <span>
#include <string>
#include <string_view>

namespace qm::base {

// Whether the file system takes `name` to begin with `prefix`.
bool NameStartsWith(std::string_view name, std::string_view prefix);

// Prefixes of the working files that only this platform's own file handling makes: on Windows
// kSetAsidePrefix (replacement_file.h) and kRunLockFileName (directory_lock.h); none on POSIX.
std::span<const std::string_view> PlatformWorkingNames();

// Whether `path` names an existing file that its directory also holds under a name `isWorking`
// picks: on Windows, a short 8.3 alias of a working file, compared by file identity (volume and
// file index), not by text. Never on POSIX systems, where a file has no second name of that kind.
bool IsAliasOfWorkingFile(std::string const& path,
                          std::function<bool(std::string_view name)> const& isWorking);

}  // namespace qm::base
