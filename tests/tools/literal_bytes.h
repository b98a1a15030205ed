// Frames written out byte by byte for the tests: hex runs, zero runs and zero-padded texts,
// appended in wire order.
#pragma once

#include <cstdint>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace qm::test {

class LiteralBytes {
  public:
    // "00 1C 04": bytes in hexadecimal, separated by blanks.
    LiteralBytes& Hex(std::string_view text) {
        std::istringstream in{std::string(text)};
        unsigned value = 0;
        while (in >> std::hex >> value) {
            bytes_.push_back(static_cast<std::uint8_t>(value));
        }
        return *this;
    }
    LiteralBytes& Byte(std::uint8_t value) {
        bytes_.push_back(value);
        return *this;
    }
    LiteralBytes& Zeros(std::size_t count) {
        bytes_.insert(bytes_.end(), count, 0);
        return *this;
    }
    // `text` followed by zeros up to `width`.
    LiteralBytes& Text(std::string_view text, std::size_t width) {
        bytes_.insert(bytes_.end(), text.begin(), text.end());
        return Zeros(width - text.size());
    }
    std::vector<std::uint8_t> const& bytes() const { return bytes_; }

  private:
    std::vector<std::uint8_t> bytes_;
};

}  // namespace qm::test
