#include "support/escaped.h"

#include <cstdio>

namespace qm::fuzz {

std::string Escaped(std::string_view text) {
    constexpr std::size_t kShown = 300;
    std::string shown;
    for (std::size_t i = 0; i < text.size() && i < kShown; ++i) {
        auto const byte = static_cast<unsigned char>(text[i]);
        if (byte >= 0x20 && byte < 0x7F && byte != '\\') {
            shown += static_cast<char>(byte);
        } else {
            char code[8];
            std::snprintf(code, sizeof code, "\\x%02X", byte);
            shown += code;
        }
    }
    if (text.size() > kShown) {
        shown += "...";
    }
    return shown;
}

}  // namespace qm::fuzz
