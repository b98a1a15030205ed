// Small helpers for the server's messages to the operator.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qm::server {

// 'text', in single quotes.
inline std::string Quoted(std::string_view text) {
    return "'" + std::string(text) + "'";
}

// "1 file", "2 files".
inline std::string Counted(std::uint64_t count, std::string_view noun) {
    return std::to_string(count) + " " + std::string(noun) + (count == 1 ? "" : "s");
}

}  // namespace qm::server
