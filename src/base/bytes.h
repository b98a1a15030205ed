// Byte blocks and the text they hold.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace qm::base {

using Bytes = std::span<const std::uint8_t>;

inline Bytes AsBytes(std::string_view text) {
    return {reinterpret_cast<std::uint8_t const*>(text.data()), text.size()};
}

inline std::string_view AsText(Bytes bytes) {
    return {reinterpret_cast<char const*>(bytes.data()), bytes.size()};
}

}  // namespace qm::base
