#include <cstdio>

#include "base/file_moves.h"

namespace qm::base {

bool MoveOver(std::string const& from, std::string const& to) {
    return std::rename(from.c_str(), to.c_str()) == 0;
}

}  // namespace qm::base
