// Reads an entry of a profile (ini) file's text the simple way, to check what the updater wrote.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qm::e2e {

// The value of `key` in `[section]`, or nothing.
std::optional<std::string> ProfileEntry(std::string_view text, std::string_view section,
                                        std::string_view key);

// The text's lines without their line ends.
std::vector<std::string> ProfileLines(std::string_view text);

}  // namespace qm::e2e
