#include "checksum/crc32_carryless.h"

#include "checksum/crc32_carryless_fold.h"

namespace qm::checksum {
namespace {

using carryless::kBlockSize;

// Eight independent blocks hide the latency of the multiplication; each moves on by the eight
// blocks of one round.
constexpr std::size_t kLanes = 8;
constexpr std::size_t kRoundSize = kLanes * kBlockSize;
constexpr unsigned kRoundBits = kRoundSize * 8;

// Below this the table method is as quick as setting up the lanes and joining them.
constexpr std::size_t kShortestInput = 2 * kRoundSize;

// The registers in flight (a struct: std::array would drop the vector type's attributes).
struct Lanes {
    __m128i in[kLanes];
};

// The first round of blocks, with the register added to the first.
[[gnu::target("pclmul,sse4.1")]] inline Lanes StartLanes(std::uint32_t state,
                                                         std::uint8_t const* bytes) {
    Lanes lanes;
    for (std::size_t lane = 0; lane < kLanes; ++lane) {
        lanes.in[lane] = carryless::LoadBlock(bytes + lane * kBlockSize);
    }
    lanes.in[0] = carryless::WithRegister(lanes.in[0], state);
    return lanes;
}

// Folds every whole round of `bytes` into the lanes; leaves the rest in `bytes`.
[[gnu::target("pclmul,sse4.1")]] inline void FoldRounds(Lanes& lanes,
                                                        std::span<const std::uint8_t>& bytes) {
    __m128i const constants = carryless::ConstantsRegister(FoldConstantsFor<kRoundBits>());
    while (bytes.size() >= kRoundSize) {
        for (std::size_t lane = 0; lane < kLanes; ++lane) {
            lanes.in[lane] = carryless::Fold(
                lanes.in[lane], constants, carryless::LoadBlock(bytes.data() + lane * kBlockSize));
        }
        bytes = bytes.subspan(kRoundSize);
    }
}

// The lanes hold consecutive blocks; each is folded into the next.
[[gnu::target("pclmul,sse4.1")]] inline __m128i JoinLanes(Lanes const& lanes) {
    __m128i const constants = carryless::FoldOneBlockConstants();
    __m128i joined = lanes.in[0];
    for (std::size_t lane = 1; lane < kLanes; ++lane) {
        joined = carryless::Fold(joined, constants, lanes.in[lane]);
    }
    return joined;
}

}  // namespace

bool CarrylessCrc32Supported() {
    return __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
}

[[gnu::target("pclmul,sse4.1")]] std::uint32_t Crc32CarrylessUpdate(
    std::uint32_t state, std::span<const std::uint8_t> bytes) {
    if (bytes.size() < kShortestInput) {
        return Crc32TableUpdate(state, bytes);
    }
    Lanes lanes = StartLanes(state, bytes.data());
    bytes = bytes.subspan(kRoundSize);
    FoldRounds(lanes, bytes);
    return carryless::FinishPass(JoinLanes(lanes), bytes);
}

}  // namespace qm::checksum
