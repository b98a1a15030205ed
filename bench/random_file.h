// Test files of random bytes from a seeded generator, written in large blocks.
#pragma once

#include <cstdint>
#include <random>
#include <string>

namespace qm::bench {

// Writes `size` random bytes to `path` (created or truncated); throws std::runtime_error ("cannot
// write PATH") on any failure.
void WriteRandomFile(std::string const& path, std::uint64_t size, std::mt19937_64& random);

}  // namespace qm::bench
