// Small helpers for the server's messages to the operator.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qm::server {

// 'text', in single quotes. Built by appending: GCC 12 at -O3 misreads "'" + std::string(...)
// as an overlapping copy.
inline std::string Quoted(std::string_view text) {
    std::string quoted;
    quoted.reserve(text.size() + 2);
    quoted.append(1, '\'').append(text).append(1, '\'');
    return quoted;
}

// "1 file", "2 files".
inline std::string Counted(std::uint64_t count, std::string_view noun) {
    return std::to_string(count) + " " + std::string(noun) + (count == 1 ? "" : "s");
}

}  // namespace qm::server
