// Building blocks of the carry-less CRC-32 kernels: one 16-byte block of the message in a
// 128-bit register, moved forward by carry-less multiplication (see crc32_fold_constants.h).
// Everything here needs PCLMULQDQ and SSE4.1 and may only be called from functions compiled for
// them.
#pragma once

#include <immintrin.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "checksum/crc32_fold_constants.h"
#include "checksum/crc32_table.h"

namespace qm::checksum::carryless {

inline constexpr std::size_t kBlockSize = 16;

[[gnu::target("pclmul,sse4.1")]] inline __m128i LoadBlock(std::uint8_t const* bytes) {
    return _mm_loadu_si128(reinterpret_cast<__m128i const*>(bytes));
}

// Low 64 bits: the constant for the block's low half; high 64 bits: for its high half.
[[gnu::target("pclmul,sse4.1")]] inline __m128i ConstantsRegister(FoldConstants constants) {
    return _mm_set_epi64x(static_cast<long long>(constants.forHighHalf),
                          static_cast<long long>(constants.forLowHalf));
}

// The first block of the message with the running register added to its first four bytes:
// a register value is the same as those 32 bits of message inverted into place.
[[gnu::target("pclmul,sse4.1")]] inline __m128i WithRegister(__m128i block, std::uint32_t state) {
    return _mm_xor_si128(block, _mm_cvtsi32_si128(static_cast<int>(state)));
}

// `block` moved forward by the distance of `constants` and added to `onto`, the block there.
[[gnu::target("pclmul,sse4.1")]] inline __m128i Fold(__m128i block, __m128i constants,
                                                     __m128i onto) {
    __m128i const low = _mm_clmulepi64_si128(block, constants, 0x00);
    __m128i const high = _mm_clmulepi64_si128(block, constants, 0x11);
    return _mm_xor_si128(_mm_xor_si128(low, high), onto);
}

[[gnu::target("pclmul,sse4.1")]] inline __m128i FoldOneBlockConstants() {
    return ConstantsRegister(FoldConstantsFor<128>());
}

// Ends a carry-less pass: `accumulated` stands for all message bytes before `rest`. Folds the
// whole blocks of `rest` into it one by one; the register after that one block is what the
// table gives for its 16 bytes from a zero register, and the last few bytes go through the
// table too.
[[gnu::target("pclmul,sse4.1")]] inline std::uint32_t FinishPass(
    __m128i accumulated, std::span<const std::uint8_t> rest) {
    __m128i const constants = FoldOneBlockConstants();
    while (rest.size() >= kBlockSize) {
        accumulated = Fold(accumulated, constants, LoadBlock(rest.data()));
        rest = rest.subspan(kBlockSize);
    }
    alignas(16) std::array<std::uint8_t, kBlockSize> bytes;
    _mm_store_si128(reinterpret_cast<__m128i*>(bytes.data()), accumulated);
    return Crc32TableUpdate(Crc32TableUpdate(0, bytes), rest);
}

}  // namespace qm::checksum::carryless
