#include "checksum/crc32_segment_combiner.h"

#include <algorithm>

namespace qm::checksum {

SegmentCombiner::SegmentCombiner(std::uint32_t initialState, std::uint64_t expectedSize,
                                 std::uint64_t segmentSize)
    : expectedSize_(expectedSize),
      segmentSize_(segmentSize),
      fullSegmentShift_(segmentSize),
      state_(initialState) {}

std::uint64_t SegmentCombiner::ExpectedLength(std::uint64_t index) const {
    std::uint64_t const start = index * segmentSize_;
    return start >= expectedSize_ ? 0 : std::min(segmentSize_, expectedSize_ - start);
}

void SegmentCombiner::Join(Segment const& segment) {
    if (reachedEnd_) {
        return;
    }
    std::uint32_t const moved = segment.length == segmentSize_
                                    ? fullSegmentShift_.Apply(state_)
                                    : ZeroBytesShift(segment.length).Apply(state_);
    state_ = moved ^ segment.crcFromZero;
    reachedEnd_ = segment.length < ExpectedLength(segment.index);
}

void SegmentCombiner::Add(Segment segment) {
    std::lock_guard const lock(mutex_);
    waiting_.push_back(segment);
    for (;;) {
        auto const next = std::find_if(waiting_.begin(), waiting_.end(),
                                       [&](Segment const& s) { return s.index == nextIndex_; });
        if (next == waiting_.end()) {
            return;
        }
        Join(*next);
        waiting_.erase(next);
        ++nextIndex_;
    }
}

bool SegmentCombiner::ReachedEnd() const {
    std::lock_guard const lock(mutex_);
    return reachedEnd_;
}

std::uint32_t SegmentCombiner::State() const {
    std::lock_guard const lock(mutex_);
    return state_;
}

}  // namespace qm::checksum
