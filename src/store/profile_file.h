// Values in the two profile files (upd.ini, crc.ini) that sit in the current directory.
//
// The format is that of classic Windows profile files: "[SECTION]" lines open a section,
// "key=value" lines hold entries. Section and key names match without regard to letter case,
// blanks around keys and values are trimmed, a value in matching double or single quotes loses
// them, the first matching key wins, lines starting with ';' are comments, and CRLF and LF line
// ends are both read.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qm::store {

// Longest value a read hands back; longer values are cut to this many characters.
inline constexpr std::size_t kProfileValueMax = 254;

// The value of `key` in `section` of `fileName` (a path relative to the current directory),
// cut to kProfileValueMax characters. Nothing when the file, the section or the key is missing or
// the value is empty.
std::optional<std::string> ReadProfileValue(std::string_view fileName, std::string_view section,
                                            std::string_view key);

// True when `key` can be stored and read back as the same key: not empty, no line break, NUL or
// '=', no blank (space, tab, CR, VT, FF) at either end, not starting with ';' or '['.
bool IsProfileKey(std::string_view key);

// Stores `value` under `key` in `section` of `fileName`: replaces the value of an existing key in
// place, adds a missing key at the end of its section, a missing section at the end of the file,
// and creates a missing file; every other line is kept as it was. The new file is written to a
// temporary file in the same directory, flushed to disk and renamed over the old one, so a crash
// never leaves a half-written file. Returns false when the file could not be written (the old
// file is then unchanged).
bool WriteProfileValue(std::string_view fileName, std::string_view section, std::string_view key,
                       std::string_view value);

// Every entry of `section` of `fileName`: key and value (quotes removed, cut to kProfileValueMax),
// in file order; a key that stands twice counts once, with its first value, as a read finds it.
std::vector<std::pair<std::string, std::string>> ReadProfileSection(std::string_view fileName,
                                                                    std::string_view section);

// Removes every entry `key` from `section` of `fileName`, written as WriteProfileValue writes; a
// section left without entries goes with it, and a file left without any line is removed. True
// when the file is as wanted afterwards (a missing file, section or key already is), false when
// it could not be written.
bool RemoveProfileValue(std::string_view fileName, std::string_view section, std::string_view key);

// Removes the temporary files that a write of `fileName` interrupted by a kill left beside it
// (regular files named "." + the file's name + "." + six characters). Returns how many.
int RemoveProfileLeftovers(std::string_view fileName);

// Converts a stored checksum the way the session reads it back: leading blanks skipped, decimal
// digits up to the first non-digit, saturating at 4294967295; no value or no digits give 0.
unsigned long ParseUnsignedValue(std::optional<std::string> const& value);

}  // namespace qm::store
