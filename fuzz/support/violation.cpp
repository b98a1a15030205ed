#include "support/violation.h"

#include <cstdio>
#include <cstdlib>

namespace qm::fuzz {

void Violation(std::string_view what) {
    std::fprintf(stderr, "\n==== invariant broken: %.*s\n", static_cast<int>(what.size()),
                 what.data());
    std::fflush(stderr);
    std::abort();
}

}  // namespace qm::fuzz
