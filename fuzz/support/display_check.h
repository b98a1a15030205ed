// Whether a text is safe to put on the user's screen: valid UTF-8 without control characters
// (C0, DEL, C1), so that nothing the server sends can steer a terminal.
#pragma once

#include <string_view>

namespace qm::fuzz {

bool IsDisplayable(std::string_view text);

}  // namespace qm::fuzz
