// Checks what the updater sends to the server: whole frames, each one of the six messages the
// updater has, at the length of its layout. Fed the bytes in the pieces they arrive in.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace qm::fuzz {

class SentFrames {
  public:
    void Take(std::vector<std::uint8_t> const& bytes);

    std::size_t count() const { return count_; }

  private:
    std::vector<std::uint8_t> pending_;
    std::size_t count_ = 0;
};

}  // namespace qm::fuzz
