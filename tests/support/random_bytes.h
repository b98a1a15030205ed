// Bytes from a seeded generator, the same for the same seed on every run.
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

}  // namespace qm::test
