// Takes a fuzz input apart from the front: single bytes, fixed-size fields, length-prefixed
// fields and the rest. Past the end every read gives zeros or nothing, so any input is usable.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace qm::fuzz {

class InputReader {
  public:
    explicit InputReader(std::span<const std::uint8_t> input) : rest_(input) {}

    std::uint8_t Byte() {
        if (rest_.empty()) {
            return 0;
        }
        std::uint8_t const byte = rest_.front();
        rest_ = rest_.subspan(1);
        return byte;
    }

    std::uint16_t BigEndian16() {
        auto const high = static_cast<unsigned>(Byte());
        return static_cast<std::uint16_t>(high << 8 | Byte());
    }

    std::span<const std::uint8_t> Bytes(std::size_t count) {
        std::size_t const taken = count < rest_.size() ? count : rest_.size();
        std::span<const std::uint8_t> const bytes = rest_.first(taken);
        rest_ = rest_.subspan(taken);
        return bytes;
    }

    std::string Text(std::size_t length) {
        std::span<const std::uint8_t> const bytes = Bytes(length);
        return std::string(bytes.begin(), bytes.end());
    }

    std::span<const std::uint8_t> Rest() { return Bytes(rest_.size()); }

  private:
    std::span<const std::uint8_t> rest_;
};

}  // namespace qm::fuzz
