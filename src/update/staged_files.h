// Files of a run that applies everything at once (APPLY=run): a download that is complete and
// verified waits beside its target under a hidden name (kStagedPrefix followed by the target's
// name), with the target's permission bits, until the commit moves it into place. A staged file
// outlives a run that does not complete, and counts as downloaded in the next one as long as the
// server announces the same checksum.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace qm::update {

inline constexpr char kStagedPrefix[] = ".quillmesh-staged-";

// Where the new version of `targetPath` waits; nothing when its name would be too long.
std::optional<std::string> StagedPathOf(std::string const& targetPath);

// The CRC-32 of the staged file of `targetPath`; nothing when there is none (a regular file).
std::optional<std::uint32_t> StagedChecksum(std::string const& targetPath);

// Removes the staged file of `targetPath`, if there is one.
void DiscardStaged(std::string const& targetPath);

// Removes the staged files in `directory` (as DirectoryOf gives it for their targets) that are
// not `wanted`, which sees each one's path as StagedPathOf gives it.
void RemoveStagedUnless(std::string const& directory,
                        std::function<bool(std::string const& stagedPath)> const& wanted);

}  // namespace qm::update
