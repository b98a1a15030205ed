// The fuzz directory's own reading of a profile file's text, for choosing which entries to watch
// and for comparing a file before and after a write (split into lines by the test support's
// ProfileLines): the (section, key) pair of every entry line.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qm::fuzz {

// Up to `limit` entries as (section, key), both trimmed; entries before any section are left out.
std::vector<std::pair<std::string, std::string>> EntryNames(std::string_view text,
                                                            std::size_t limit);

// Letter case does not matter in section and key names.
bool SameName(std::string_view a, std::string_view b);

// True when `after` is `before` with at most one line taken out and at most `added` lines put in,
// the rest in the same order.
bool KeepsOtherLines(std::vector<std::string_view> const& before,
                     std::vector<std::string_view> const& after, std::size_t added);

}  // namespace qm::fuzz
