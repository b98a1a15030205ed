// How a harness reports a broken invariant: a message on standard error, then abort(), which
// libFuzzer records as a crash together with the input that caused it.
#pragma once

#include <string_view>

namespace qm::fuzz {

[[noreturn]] void Violation(std::string_view what);

inline void Require(bool condition, std::string_view what) {
    if (!condition) {
        Violation(what);
    }
}

}  // namespace qm::fuzz
