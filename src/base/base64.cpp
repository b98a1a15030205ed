#include "base/base64.h"

namespace qm::base {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int ValueOf(char c) {
    if (c >= 'A' && c <= 'Z') {
        return c - 'A';
    }
    if (c >= 'a' && c <= 'z') {
        return c - 'a' + 26;
    }
    if (c >= '0' && c <= '9') {
        return c - '0' + 52;
    }
    return c == '+' ? 62 : c == '/' ? 63 : -1;
}

}  // namespace

std::string EncodeBase64(std::span<const std::uint8_t> bytes) {
    std::string text;
    text.reserve((bytes.size() + 2) / 3 * 4);
    for (std::size_t at = 0; at < bytes.size(); at += 3) {
        std::size_t const left = bytes.size() - at;
        std::uint32_t const group = std::uint32_t{bytes[at]} << 16 |
                                    (left > 1 ? std::uint32_t{bytes[at + 1]} << 8 : 0) |
                                    (left > 2 ? bytes[at + 2] : 0);
        text += kAlphabet[group >> 18 & 63];
        text += kAlphabet[group >> 12 & 63];
        text += left > 1 ? kAlphabet[group >> 6 & 63] : '=';
        text += left > 2 ? kAlphabet[group & 63] : '=';
    }
    return text;
}

std::optional<std::vector<std::uint8_t>> DecodeBase64(std::string_view text) {
    if (text.size() % 4 != 0) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> bytes;
    for (std::size_t at = 0; at < text.size(); at += 4) {
        bool const last = at + 4 == text.size();
        std::size_t const padding = !last                 ? 0
                                    : text[at + 3] != '=' ? 0
                                    : text[at + 2] != '=' ? 1
                                                          : 2;
        std::uint32_t group = 0;
        for (std::size_t i = 0; i < 4; ++i) {
            int const value = i >= 4 - padding ? 0 : ValueOf(text[at + i]);
            if (value < 0) {
                return std::nullopt;
            }
            group = group << 6 | static_cast<std::uint32_t>(value);
        }
        bytes.push_back(static_cast<std::uint8_t>(group >> 16));
        if (padding < 2) {
            bytes.push_back(static_cast<std::uint8_t>(group >> 8));
        }
        if (padding < 1) {
            bytes.push_back(static_cast<std::uint8_t>(group));
        }
    }
    return bytes;
}

}  // namespace qm::base
