// Joins the checksums of the segments of a file, taken separately and finished in any order, into
// the register of the whole file. Segment i covers bytes [i * segmentSize, (i + 1) * segmentSize)
// of the expected size; a segment shorter than expected is where the file ended (it shrank, or a
// read failed), and nothing after it counts. Safe to use from several threads.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "checksum/crc32_zero_shift.h"

namespace qm::checksum {

class SegmentCombiner {
  public:
    struct Segment {
        std::uint64_t index;
        std::uint32_t crcFromZero;  // the register after the segment's bytes, from 0
        std::uint64_t length;       // bytes actually read
    };

    SegmentCombiner(std::uint32_t initialState, std::uint64_t expectedSize,
                    std::uint64_t segmentSize);

    void Add(Segment segment);

    // Whether a short segment has been joined: the rest of the file does not count.
    bool ReachedEnd() const;

    // The register over all joined segments; once every segment is in, over the whole file.
    std::uint32_t State() const;

  private:
    std::uint64_t ExpectedLength(std::uint64_t index) const;
    void Join(Segment const& segment);

    std::uint64_t const expectedSize_;
    std::uint64_t const segmentSize_;
    ZeroBytesShift const fullSegmentShift_;
    mutable std::mutex mutex_;
    std::uint32_t state_;
    std::uint64_t nextIndex_ = 0;
    bool reachedEnd_ = false;
    std::vector<Segment> waiting_;  // finished ahead of their turn; one per worker at most
};

}  // namespace qm::checksum
