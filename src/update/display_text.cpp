#include "update/display_text.h"

#include <cstdint>

namespace qm::update {
namespace {

// Length of the valid UTF-8 sequence starting at text[at], or 0 when it is not one. Overlong
// forms, surrogates and values above U+10FFFF are not valid.
std::size_t SequenceLength(std::string_view text, std::size_t at, std::uint32_t& codePoint) {
    auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(text[i]); };
    std::uint8_t lead = byte(at);
    std::size_t length = lead < 0x80    ? 1
                         : lead >= 0xF0 ? 4
                         : lead >= 0xE0 ? 3
                         : lead >= 0xC2 ? 2
                                        : 0;
    if (length == 0 || lead > 0xF4 || at + length > text.size()) {
        return 0;
    }
    codePoint = length == 1 ? lead : lead & (0x7Fu >> length);
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) {
            return 0;
        }
        codePoint = (codePoint << 6) | (byte(at + i) & 0x3Fu);
    }
    static constexpr std::uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    bool surrogate = codePoint >= 0xD800 && codePoint <= 0xDFFF;
    if (codePoint < kSmallest[length] || surrogate || codePoint > 0x10FFFF) {
        return 0;
    }
    return length;
}

bool IsControl(std::uint32_t codePoint) {
    return codePoint < 0x20 || (codePoint >= 0x7F && codePoint <= 0x9F);
}

}  // namespace

std::string DisplayText(std::string_view text) {
    std::string shown;
    shown.reserve(text.size());
    std::size_t at = 0;
    while (at < text.size()) {
        std::uint32_t codePoint = 0;
        std::size_t length = SequenceLength(text, at, codePoint);
        if (length == 0 || IsControl(codePoint)) {
            shown += '?';
            at += length == 0 ? 1 : length;
        } else {
            shown.append(text.substr(at, length));
            at += length;
        }
    }
    return shown;
}

std::string DisplayLine(std::string_view before, std::string_view value, std::string_view after) {
    std::string text(before);
    text += DisplayText(value);
    text += after;
    return text;
}

}  // namespace qm::update
