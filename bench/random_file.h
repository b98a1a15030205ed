// Test files of random bytes from a seeded generator, written in large blocks.
#pragma once

#include <cstdint>
#include <random>
#include <string>

namespace qm::bench {

// Writes `size` random bytes to `path` (created or truncated). False on any failure.
bool WriteRandomFile(std::string const& path, std::uint64_t size, std::mt19937_64& random);

}  // namespace qm::bench
