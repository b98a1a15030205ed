// What a benchmark throws when a scenario cannot go on, and the check that throws it; the message
// says why.
#pragma once

#include <stdexcept>
#include <string>

namespace qm::bench {

struct Problem : std::runtime_error {
    using std::runtime_error::runtime_error;
};

inline void Require(bool good, std::string const& what) {
    if (!good) {
        throw Problem(what);
    }
}

}  // namespace qm::bench
