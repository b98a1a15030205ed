// The sizes of the reads that deliver a byte stream, taken from four bytes of the input, so that
// the fuzzer decides where the stream is split: a byte below 0x80 gives 1 to 128 bytes, a higher
// one 64 to 8192 bytes. The four sizes repeat for as long as the stream lasts.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace qm::fuzz {

inline constexpr std::size_t kReadSizeBytes = 4;

class ReadSizes {
  public:
    explicit ReadSizes(std::span<const std::uint8_t> code) {
        for (std::size_t i = 0; i < code_.size() && i < code.size(); ++i) {
            code_[i] = code[i];
        }
    }

    // Calls `deliver` with consecutive pieces of `stream` until all of it is delivered.
    template <typename Deliver>
    void Split(std::span<const std::uint8_t> stream, Deliver deliver) const {
        for (std::size_t turn = 0; !stream.empty(); ++turn) {
            std::size_t const size = SizeOf(code_[turn % code_.size()]);
            std::size_t const taken = size < stream.size() ? size : stream.size();
            deliver(stream.first(taken));
            stream = stream.subspan(taken);
        }
    }

  private:
    static std::size_t SizeOf(std::uint8_t code) {
        return code < 0x80 ? std::size_t{code} + 1 : (std::size_t{code} - 0x7F) * 64;
    }

    std::array<std::uint8_t, kReadSizeBytes> code_{};
};

}  // namespace qm::fuzz
