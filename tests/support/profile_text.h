// Profile (ini) files the simple way: the updater's configuration written for a test, and the
// entries of what the updater wrote read back to check them.
#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qm::test {

// The value of `key` in `[section]`, or nothing.
std::optional<std::string> ProfileEntry(std::string_view text, std::string_view section,
                                        std::string_view key);

// upd.ini for a server at `server` (a missing value leaves its key out), written to `directory`.
void WriteUpdaterConfig(std::filesystem::path const& directory,
                        std::optional<std::string> const& server,
                        std::optional<std::string> const& exe = std::nullopt);

// Appends settings ("KEY=VALUE" lines) to the upd.ini in `directory`.
void AddUpdaterSettings(std::filesystem::path const& directory, std::string_view lines);

// The entries of a checksum record ([GLOBAL_CRC] key=value), or nothing when the text is not a
// well-formed record: a section line first, then only key=decimal lines, in which the record of
// unfinished downloads ([PARTIAL_DOWNLOADS], left out of the result) may stand last.
std::optional<std::map<std::string, std::string>> ParseChecksumRecord(std::string const& text);

// The text's lines without their line ends, as views into it.
std::vector<std::string_view> ProfileLines(std::string_view text);

}  // namespace qm::test
