// What unfinished downloads left for a later run: each one's partial file lies beside its target
// under a hidden name (kPartialPrefix followed by the target's name), and ./crc.ini records it in
// section PARTIAL_DOWNLOADS, key the target's path, value the checksum the server announced for
// the file. A partial file is used again only for the same target and the same checksum.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qm::update {

inline constexpr char kPartialPrefix[] = ".quillmesh-partial-";
inline constexpr char kPartialSection[] = "PARTIAL_DOWNLOADS";

// The partial file of a download into `targetPath`; nothing when the download cannot be resumed
// (its name would be too long, or the path cannot be a key of the record).
std::optional<std::string> PartialPathOf(std::string const& targetPath);

// Whether the last component of `localPath` (either separator) is one of the updater's own
// working files, which a server may never name: a partial, temporary or staged download, or the
// journal of a commit.
bool NamesWorkingFile(std::string_view localPath);

// The checksum recorded for the partial download of `targetPath`.
std::optional<std::uint32_t> RecordedPartial(std::string const& targetPath);
// Records the partial download of `targetPath` for a file with checksum `crc`.
bool RecordPartial(std::string const& targetPath, std::uint32_t crc);
// Removes the record of the partial download of `targetPath` (its file is the caller's).
bool ForgetPartial(std::string const& targetPath);

// Removes every recorded partial file and the record itself: after a completed run nothing of
// an earlier download is left anywhere.
void RemoveAllPartials();

// Removes the partial files in `directory` that the record does not account for (a kill before
// the record was written): they can never be used again.
void RemoveUnrecordedPartials(std::string const& directory);

}  // namespace qm::update
