// Text from a fuzz input as it can be put in a report: printable ASCII as it is, every other byte
// as \xNN, cut after a few hundred bytes.
#pragma once

#include <string>
#include <string_view>

namespace qm::fuzz {

std::string Escaped(std::string_view text);

}  // namespace qm::fuzz
