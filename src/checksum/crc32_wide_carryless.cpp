#include "checksum/crc32_wide_carryless.h"

#include "checksum/crc32_carryless.h"
#include "checksum/crc32_carryless_fold.h"

namespace qm::checksum {
namespace {

using carryless::kBlockSize;

// Each lane is a 256-bit register: a pair of consecutive 16-byte blocks.
constexpr std::size_t kPairSize = 2 * kBlockSize;
constexpr std::size_t kLanes = 4;
constexpr std::size_t kRoundSize = kLanes * kPairSize;
constexpr unsigned kRoundBits = kRoundSize * 8;

// Shorter inputs go to the 128-bit kernel, which starts up faster.
constexpr std::size_t kShortestInput = 4 * kRoundSize;

// The registers in flight (a struct: std::array would drop the vector type's attributes).
struct Lanes {
    __m256i in[kLanes];
};

[[gnu::target("vpclmulqdq,avx2,pclmul,sse4.1")]] inline __m256i LoadPair(
    std::uint8_t const* bytes) {
    return _mm256_loadu_si256(reinterpret_cast<__m256i const*>(bytes));
}

// `pair` moved forward by the distance of `constants` (the same in both halves) and added to
// `onto`.
[[gnu::target("vpclmulqdq,avx2,pclmul,sse4.1")]] inline __m256i FoldPair(__m256i pair,
                                                                         __m256i constants,
                                                                         __m256i onto) {
    __m256i const low = _mm256_clmulepi64_epi128(pair, constants, 0x00);
    __m256i const high = _mm256_clmulepi64_epi128(pair, constants, 0x11);
    return _mm256_xor_si256(_mm256_xor_si256(low, high), onto);
}

// The first round of pairs, with the register added to the first block.
[[gnu::target("vpclmulqdq,avx2,pclmul,sse4.1")]] inline Lanes StartLanes(
    std::uint32_t state, std::uint8_t const* bytes) {
    Lanes lanes;
    for (std::size_t lane = 0; lane < kLanes; ++lane) {
        lanes.in[lane] = LoadPair(bytes + lane * kPairSize);
    }
    __m128i const first = carryless::WithRegister(_mm256_castsi256_si128(lanes.in[0]), state);
    lanes.in[0] = _mm256_inserti128_si256(lanes.in[0], first, 0);
    return lanes;
}

// Folds every whole round of `bytes` into the lanes; leaves the rest in `bytes`.
[[gnu::target("vpclmulqdq,avx2,pclmul,sse4.1")]] inline void FoldRounds(
    Lanes& lanes, std::span<const std::uint8_t>& bytes) {
    __m256i const constants =
        _mm256_broadcastsi128_si256(carryless::ConstantsRegister(FoldConstantsFor<kRoundBits>()));
    while (bytes.size() >= kRoundSize) {
        for (std::size_t lane = 0; lane < kLanes; ++lane) {
            lanes.in[lane] =
                FoldPair(lanes.in[lane], constants, LoadPair(bytes.data() + lane * kPairSize));
        }
        bytes = bytes.subspan(kRoundSize);
    }
}

// In message order the blocks are lane 0 low half, lane 0 high half, lane 1 low half, ...; each
// is folded into the next.
[[gnu::target("vpclmulqdq,avx2,pclmul,sse4.1")]] inline __m128i JoinLanes(Lanes const& lanes) {
    __m128i const constants = carryless::FoldOneBlockConstants();
    __m128i joined = _mm256_castsi256_si128(lanes.in[0]);
    joined = carryless::Fold(joined, constants, _mm256_extracti128_si256(lanes.in[0], 1));
    for (std::size_t lane = 1; lane < kLanes; ++lane) {
        joined = carryless::Fold(joined, constants, _mm256_castsi256_si128(lanes.in[lane]));
        joined = carryless::Fold(joined, constants, _mm256_extracti128_si256(lanes.in[lane], 1));
    }
    return joined;
}

}  // namespace

bool WideCarrylessCrc32Supported() {
    return CarrylessCrc32Supported() && __builtin_cpu_supports("vpclmulqdq") &&
           __builtin_cpu_supports("avx2");
}

[[gnu::target("vpclmulqdq,avx2,pclmul,sse4.1")]] std::uint32_t Crc32WideCarrylessUpdate(
    std::uint32_t state, std::span<const std::uint8_t> bytes) {
    if (bytes.size() < kShortestInput) {
        return Crc32CarrylessUpdate(state, bytes);
    }
    Lanes lanes = StartLanes(state, bytes.data());
    bytes = bytes.subspan(kRoundSize);
    FoldRounds(lanes, bytes);
    return carryless::FinishPass(JoinLanes(lanes), bytes);
}

}  // namespace qm::checksum
