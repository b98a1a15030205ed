// The file descriptors that the process has open, to catch a descriptor that an input leaked.
#pragma once

#include <set>

namespace qm::fuzz {

std::set<int> OpenDescriptors();

}  // namespace qm::fuzz
