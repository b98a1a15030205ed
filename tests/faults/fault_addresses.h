// The loopback address of each fault test. The protocol port is fixed, so every test that listens
// has an address of its own in 127.0.2.N; each N is handed out here, once.
#pragma once

#include <string>

namespace qm::faults {

enum class FaultAddress : int {
    KilledDownloads = 1,
    StopSignals = 2,
    DiskFaults = 3,
    ClosedAtEveryStage = 4,
    SilentServer = 5,
    GarbageFromServer = 6,
    FramesCutAtEveryByte = 7,
    UnsafePaths = 8,
    EscapeSequences = 9,
    UnterminatedListName = 10,
    LongFileSizeName = 11,
    ChunkPastFrame = 12,
    EndlessChunks = 13,
    EndlessListChains = 14,
    ConsecutiveRuns = 15,
    ManyAtOnce = 16,
    DiskFull = 17,
    TargetNotAFile = 18,
    UnwritableChecksumRecord = 19,
    ChunksBeyondAnnouncedSize = 20,
    LeftoverRecordFile = 21,
    OtherSignals = 22,
    ShortFrames = 23,
    SilentAfterAnnouncement = 24,
    SoakConsecutive = 200,
    SoakManyAtOnce = 201,
};

inline std::string Address(FaultAddress test) {
    return "127.0.2." + std::to_string(static_cast<int>(test));
}

}  // namespace qm::faults
