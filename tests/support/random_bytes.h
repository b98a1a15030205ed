// Bytes from seeded generators, the same for the same seed on every run.
#pragma once

#include <cstdint>
#include <random>
#include <vector>

namespace qm::test {

inline std::vector<std::uint8_t> RandomBytes(std::mt19937& random, std::size_t count) {
    std::uniform_int_distribution<int> byte(0, 255);
    std::vector<std::uint8_t> bytes(count);
    for (auto& b : bytes) {
        b = static_cast<std::uint8_t>(byte(random));
    }
    return bytes;
}

// `size` bytes from a linear congruential generator started at `seed`: quick, and different for
// each seed.
inline std::vector<std::uint8_t> PatternBytes(std::size_t size, std::uint32_t seed) {
    std::vector<std::uint8_t> bytes(size);
    for (std::uint8_t& byte : bytes) {
        seed = seed * 1664525u + 1013904223u;
        byte = static_cast<std::uint8_t>(seed >> 24);
    }
    return bytes;
}

}  // namespace qm::test
