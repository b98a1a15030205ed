#include "store/crc32_carryless.h"

#include "store/crc32_carryless_fold.h"

namespace qm::store {
namespace {

using carryless::kBlockSize;

// Eight independent blocks hide the latency of the multiplication; each moves on by the eight
// blocks of one round.
constexpr std::size_t kLanes = 8;
constexpr std::size_t kRoundSize = kLanes * kBlockSize;
constexpr unsigned kRoundBits = kRoundSize * 8;

// Below this the table method is as quick as setting up the lanes and combining them.
constexpr std::size_t kShortestInput = 2 * kRoundSize;

}  // namespace

bool CarrylessCrc32Supported() {
    return __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
}

[[gnu::target("pclmul,sse4.1")]] std::uint32_t Crc32CarrylessUpdate(
    std::uint32_t state, std::span<const std::uint8_t> bytes) {
    using namespace carryless;
    if (bytes.size() < kShortestInput) {
        return Crc32TableUpdate(state, bytes);
    }
    __m128i lanes[kLanes];
    for (std::size_t lane = 0; lane < kLanes; ++lane) {
        lanes[lane] = LoadBlock(bytes.data() + lane * kBlockSize);
    }
    lanes[0] = WithRegister(lanes[0], state);
    bytes = bytes.subspan(kRoundSize);

    __m128i const roundConstants = ConstantsRegister(FoldConstantsFor<kRoundBits>());
    while (bytes.size() >= kRoundSize) {
        for (std::size_t lane = 0; lane < kLanes; ++lane) {
            lanes[lane] =
                Fold(lanes[lane], roundConstants, LoadBlock(bytes.data() + lane * kBlockSize));
        }
        bytes = bytes.subspan(kRoundSize);
    }

    // The lanes hold consecutive blocks; fold each into the next.
    __m128i const blockConstants = FoldOneBlockConstants();
    __m128i accumulated = lanes[0];
    for (std::size_t lane = 1; lane < kLanes; ++lane) {
        accumulated = Fold(accumulated, blockConstants, lanes[lane]);
    }
    return FinishPass(accumulated, bytes);
}

}  // namespace qm::store
