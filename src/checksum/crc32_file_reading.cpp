#include "checksum/crc32_file_reading.h"

#include "base/aligned_buffer.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <system_error>
#include <thread>

#include "checksum/checksum.h"
#include "checksum/crc32_segment_combiner.h"

namespace qm::checksum {
namespace {

constexpr std::uint64_t kLargestSegment = std::uint64_t{4} << 20;
constexpr std::uint64_t kSegmentsPerFile = 8;

// What the threads of one split pass share.
class SplitPass {
  public:
    SplitPass(ReadOnlyFile const& file, std::uint64_t expectedSize, Crc32UpdateFunction update,
              std::size_t blockSize)
        : file_(file),
          expectedSize_(expectedSize),
          segmentSize_(SplitSegmentSize(expectedSize, blockSize)),
          blockSize_(blockSize),
          update_(update),
          combiner_(kCrcInitial, expectedSize, segmentSize_) {}

    // One thread's part: segments in the order they are claimed, until none is left.
    void TakeSegments() {
        base::AlignedBuffer const buffer(blockSize_);
        std::span<std::uint8_t> const block = buffer.span();
        for (;;) {
            std::uint64_t const index = nextSegment_.fetch_add(1, std::memory_order_relaxed);
            std::uint64_t const start = index * segmentSize_;
            if (start >= expectedSize_ || combiner_.ReachedEnd()) {
                return;
            }
            std::uint64_t const end = std::min(expectedSize_, start + segmentSize_);
            combiner_.Add(ChecksumSegment(index, start, end, block));
        }
    }

    SegmentCombiner const& combiner() const { return combiner_; }

  private:
    SegmentCombiner::Segment ChecksumSegment(std::uint64_t index, std::uint64_t start,
                                             std::uint64_t end, std::span<std::uint8_t> block) {
        std::uint32_t state = 0;
        std::uint64_t offset = start;
        while (offset < end) {
            std::size_t const wanted =
                static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), end - offset));
            std::size_t const got = file_.ReadSomeAt(block.first(wanted), offset);
            if (got == 0) {
                break;
            }
            state = update_(state, block.first(got));
            offset += got;
        }
        return {index, state, offset - start};
    }

    ReadOnlyFile const& file_;
    std::uint64_t const expectedSize_;
    std::uint64_t const segmentSize_;
    std::size_t const blockSize_;
    Crc32UpdateFunction const update_;
    SegmentCombiner combiner_;
    std::atomic<std::uint64_t> nextSegment_{0};
};

}  // namespace

std::uint32_t Crc32ContinueInTurn(ReadOnlyFile const& file, std::uint32_t state,
                                  std::span<std::uint8_t> buffer, Crc32UpdateFunction update) {
    for (std::size_t got = file.ReadSome(buffer); got > 0; got = file.ReadSome(buffer)) {
        state = update(state, buffer.first(got));
    }
    return state;
}

std::uint32_t Crc32OfFileInTurn(ReadOnlyFile const& file, std::span<std::uint8_t> buffer,
                                Crc32UpdateFunction update) {
    return Crc32Final(Crc32ContinueInTurn(file, kCrcInitial, buffer, update));
}

std::uint64_t SplitSegmentSize(std::uint64_t fileSize, std::size_t blockSize) {
    std::uint64_t const blocks = (fileSize / kSegmentsPerFile + blockSize - 1) / blockSize;
    return std::clamp<std::uint64_t>(blocks * blockSize, blockSize,
                                     std::max<std::uint64_t>(blockSize, kLargestSegment));
}

std::uint32_t Crc32OfFileSplit(ReadOnlyFile const& file, std::uint64_t expectedSize,
                               Crc32UpdateFunction update, std::size_t blockSize) {
    SplitPass pass(file, expectedSize, update, blockSize);
    {
        std::jthread helper;
        try {
            helper = std::jthread([&pass] { pass.TakeSegments(); });
        } catch (std::system_error const&) {
            // No helper: the caller takes every segment.
        }
        pass.TakeSegments();
    }
    std::uint32_t const state = pass.combiner().State();
    if (pass.combiner().ReachedEnd() || !file.SeekTo(expectedSize)) {
        return Crc32Final(state);
    }
    base::AlignedBuffer const buffer(blockSize);
    return Crc32Final(Crc32ContinueInTurn(file, state, buffer.span(), update));
}

}  // namespace qm::checksum
