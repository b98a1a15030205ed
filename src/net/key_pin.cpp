#include "net/key_pin.h"

#include <algorithm>

#include "base/base64.h"

namespace qm::net {
namespace {

constexpr std::string_view kScheme = "sha256//";
constexpr std::size_t kEncodedLength = 44;

std::string_view Trimmed(std::string_view text) {
    std::size_t const first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

std::optional<KeyPin> ParseKeyPin(std::string_view text) {
    text = Trimmed(text);
    if (!text.starts_with(kScheme) || text.size() != kScheme.size() + kEncodedLength) {
        return std::nullopt;
    }
    std::optional<std::vector<std::uint8_t>> const digest =
        base::DecodeBase64(text.substr(kScheme.size()));
    if (!digest || digest->size() != KeyPin{}.size()) {
        return std::nullopt;
    }
    KeyPin pin{};
    std::copy(digest->begin(), digest->end(), pin.begin());
    return pin;
}

}  // namespace

std::optional<std::vector<KeyPin>> ParseKeyPins(std::string_view text) {
    std::vector<KeyPin> pins;
    for (;;) {
        std::size_t const separator = text.find(';');
        std::optional<KeyPin> const pin = ParseKeyPin(text.substr(0, separator));
        if (!pin) {
            return std::nullopt;
        }
        pins.push_back(*pin);
        if (separator == std::string_view::npos) {
            return pins;
        }
        text.remove_prefix(separator + 1);
    }
}

std::string FormatKeyPin(KeyPin const& pin) {
    return std::string(kScheme) + base::EncodeBase64(pin);
}

}  // namespace qm::net
