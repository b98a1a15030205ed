#include "support/display_check.h"

#include <cstdint>

namespace qm::fuzz {
namespace {

// Length of the UTF-8 sequence that `lead` opens; 0 for a byte that cannot open one.
int SequenceLength(std::uint8_t lead) {
    if (lead < 0x80) {
        return 1;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        return 2;
    }
    if (lead >= 0xE0 && lead <= 0xEF) {
        return 3;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        return 4;
    }
    return 0;
}

}  // namespace

bool IsDisplayable(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        auto const lead = static_cast<std::uint8_t>(text[i]);
        int const length = SequenceLength(lead);
        if (length == 0 || i + static_cast<std::size_t>(length) > text.size()) {
            return false;
        }
        std::uint32_t code = length == 1 ? lead : lead & (0x7Fu >> length);
        for (int k = 1; k < length; ++k) {
            auto const next = static_cast<std::uint8_t>(text[i + static_cast<std::size_t>(k)]);
            if ((next & 0xC0u) != 0x80u) {
                return false;
            }
            code = code << 6 | (next & 0x3Fu);
        }
        bool const overlong = (length == 3 && code < 0x800) || (length == 4 && code < 0x10000);
        bool const surrogate = code >= 0xD800 && code <= 0xDFFF;
        bool const control = code < 0x20 || (code >= 0x7F && code <= 0x9F);
        if (overlong || surrogate || control || code > 0x10FFFF) {
            return false;
        }
        i += static_cast<std::size_t>(length);
    }
    return true;
}

}  // namespace qm::fuzz
