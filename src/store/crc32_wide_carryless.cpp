#include "store/crc32_wide_carryless.h"

#include "store/crc32_carryless.h"
#include "store/crc32_carryless_fold.h"

namespace qm::store {
namespace {

using carryless::kBlockSize;

constexpr std::size_t kPairSize = 2 * kBlockSize;
constexpr std::size_t kLanes = 4;
constexpr std::size_t kRoundSize = kLanes * kPairSize;
constexpr unsigned kRoundBits = kRoundSize * 8;

// Shorter inputs go to the 128-bit kernel, which starts up faster.
constexpr std::size_t kShortestInput = 4 * kRoundSize;

[[gnu::target("vpclmulqdq,avx2,pclmul,sse4.1")]] inline __m256i LoadPair(
    std::uint8_t const* bytes) {
    return _mm256_loadu_si256(reinterpret_cast<__m256i const*>(bytes));
}

// The fold constants in both 128-bit halves, so each block of a pair moves by the same distance.
[[gnu::target("vpclmulqdq,avx2,pclmul,sse4.1")]] inline __m256i PairConstants(
    FoldConstants constants) {
    return _mm256_broadcastsi128_si256(carryless::ConstantsRegister(constants));
}

[[gnu::target("vpclmulqdq,avx2,pclmul,sse4.1")]] inline __m256i FoldPair(__m256i pair,
                                                                         __m256i constants,
                                                                         __m256i onto) {
    __m256i const low = _mm256_clmulepi64_epi128(pair, constants, 0x00);
    __m256i const high = _mm256_clmulepi64_epi128(pair, constants, 0x11);
    return _mm256_xor_si256(_mm256_xor_si256(low, high), onto);
}

}  // namespace

bool WideCarrylessCrc32Supported() {
    return CarrylessCrc32Supported() && __builtin_cpu_supports("vpclmulqdq") &&
           __builtin_cpu_supports("avx2");
}

[[gnu::target("vpclmulqdq,avx2,pclmul,sse4.1")]] std::uint32_t Crc32WideCarrylessUpdate(
    std::uint32_t state, std::span<const std::uint8_t> bytes) {
    using namespace carryless;
    if (bytes.size() < kShortestInput) {
        return Crc32CarrylessUpdate(state, bytes);
    }
    __m256i lanes[kLanes];
    for (std::size_t lane = 0; lane < kLanes; ++lane) {
        lanes[lane] = LoadPair(bytes.data() + lane * kPairSize);
    }
    lanes[0] = _mm256_xor_si256(lanes[0],
                                _mm256_zextsi128_si256(WithRegister(_mm_setzero_si128(), state)));
    bytes = bytes.subspan(kRoundSize);

    __m256i const roundConstants = PairConstants(FoldConstantsFor<kRoundBits>());
    while (bytes.size() >= kRoundSize) {
        for (std::size_t lane = 0; lane < kLanes; ++lane) {
            lanes[lane] =
                FoldPair(lanes[lane], roundConstants, LoadPair(bytes.data() + lane * kPairSize));
        }
        bytes = bytes.subspan(kRoundSize);
    }

    // In message order the blocks are: lane 0 low half, lane 0 high half, lane 1 low half, ...
    __m128i const blockConstants = FoldOneBlockConstants();
    __m128i accumulated = _mm256_castsi256_si128(lanes[0]);
    accumulated = Fold(accumulated, blockConstants, _mm256_extracti128_si256(lanes[0], 1));
    for (std::size_t lane = 1; lane < kLanes; ++lane) {
        accumulated = Fold(accumulated, blockConstants, _mm256_castsi256_si128(lanes[lane]));
        accumulated = Fold(accumulated, blockConstants, _mm256_extracti128_si256(lanes[lane], 1));
    }
    return FinishPass(accumulated, bytes);
}

}  // namespace qm::store
