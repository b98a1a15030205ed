// Makes text that came from the server safe to show: a server must not be able to send terminal
// control sequences to the user's screen.
#pragma once

#include <string>
#include <string_view>

namespace qm::update {

// `text` with every control character (C0, DEL, C1) and every byte that is not part of a valid
// UTF-8 sequence replaced by '?'.
std::string DisplayText(std::string_view text);

// `before`, the server's `value` made safe as DisplayText does, and `after`.
std::string DisplayLine(std::string_view before, std::string_view value, std::string_view after);

}  // namespace qm::update
