// The loopback address of each end-to-end test. The protocol port is fixed, so tests that may run
// at the same time each listen on their own 127.0.0.N; every N is handed out here, once.
#pragma once

#include <string>

namespace qm::e2e {

enum class TestAddress : int {
    NothingListening = 40,
    AbortAfterAccept = 41,
    NoAnnouncement = 42,
    InvalidWelcome = 43,
    UnchangedFile = 44,
    ChangedFileInChunks = 45,
    SwitchList = 46,
    LaunchProgram = 47,
    MissingFileWithZeroChecksum = 48,
    ProgramCannotStart = 49,
    CompletionAfterError = 50,
    ListSkipped = 51,
    RepeatList = 52,
    DeleteFile = 53,
    DeleteAbsentFile = 54,
    ClosedAfterLogin = 55,
    ClosedBeforeWelcome = 56,
    FrameLengthOutOfRange = 57,
    ChunkPastFrame = 58,
    UnsafeDownloadPath = 59,
    UnsafeDeletePath = 60,
    ChecksumMismatch = 61,
    DroppedMidDownload = 62,
    ExecutableKeepsMode = 63,
    EmptyDownload = 64,
    ControlCharacters = 65,
    UnrecordableListName = 66,
    LargeFile = 67,
    TerminateAfterAccept = 68,
    WelcomeSplit = 69,
    SecondAnnouncement = 70,
    ChunkOutOfOrder = 71,
    ReleaseTwice = 72,
    AnnouncementWrongService = 73,
    TemporaryFileCannotOpen = 74,
    RenameOntoDirectory = 75,
    DeleteNonEmptyDirectory = 76,
    LeftoverTemporaryFile = 77,
    MoreThanAnnounced = 78,
};

inline std::string LoopbackAddress(TestAddress test) {
    return "127.0.0." + std::to_string(static_cast<int>(test));
}

}  // namespace qm::e2e
