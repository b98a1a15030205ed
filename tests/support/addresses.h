// Every loopback address a test, fuzz harness or benchmark listens on. The protocol's port is
// fixed (34005), so runs that may happen at the same time each need an address of their own; each
// is handed out here, once. An enumerator's value is the address's last two bytes (127.0.X.Y is
// X * 256 + Y); each block counts up from its first value, so no two entries share an address.
#pragma once

#include <string>

namespace qm::test {

inline constexpr int kPort = 34005;

enum class TestAddress : int {
    // Unit tests of the socket layer and the update dialog (tests/net, tests/app).
    NetListener = 10,
    ConnectionEveryAddress = 20,  // tests/update
    ConnectionSilentServer,
    EndingThenLostLink,  // one address for each case of the run's one ending
    EndingThenFailedSend,
    EndingThenResponseTimer,
    EndingThenStallTimer,
    EndingThenCancel,  // 26
    DialogConnectDelay = 30,
    DialogRefused,
    DialogAbort,
    DialogNoAnswer,
    DialogTimersHeld,
    DialogFinish,
    DialogFirstEnding,
    DialogRunLock = 38,  // 37 is no longer handed out: the ending's cases once shared it
    // End-to-end runs of the updater against scripted servers (tests/e2e).
    NothingListening = 40,
    AbortAfterAccept,
    NoAnnouncement,
    InvalidWelcome,
    UnchangedFile,
    ChangedFileInChunks,
    SwitchList,
    LaunchProgram,
    MissingFileWithZeroChecksum,
    ProgramCannotStart,
    CompletionAfterError,
    ListSkipped,
    RepeatList,
    DeleteFile,
    DeleteAbsentFile,
    ClosedAfterLogin,
    ClosedBeforeWelcome,
    FrameLengthOutOfRange,
    ChunkPastFrame,
    UnsafeDownloadPath,
    UnsafeDeletePath,
    ChecksumMismatch,
    DroppedMidDownload,
    ExecutableKeepsMode,
    EmptyDownload,
    ControlCharacters,
    UnrecordableListName,
    LargeFile,
    TerminateAfterAccept,
    WelcomeSplit,
    SecondAnnouncement,
    ChunkOutOfOrder,
    ReleaseTwice,
    AnnouncementWrongService,
    TemporaryFileCannotOpen,
    RenameOntoDirectory,
    DeleteNonEmptyDirectory,
    LeftoverTemporaryFile,
    MoreThanAnnounced,
    ResetWhileAnswering,
    RunLock,
    Stall,
    ResumeAfterCancel,
    ResumeAfterKill,
    PipelinedRequests,
    OutOfRangeSettings,
    KeptPartDoesNotFit,
    NoListRecorded,
    WholeRunCommitted,
    WholeRunRepeatList,
    WholeRunInterrupted,
    WholeRunStaleStaged,
    WholeRunJournal,
    RetryResumes,
    RetryUsedUp,
    RetryNotForInvalidData,
    RetryCancelledWhileWaiting,
    RetryAfterStall,
    RetryNotForTheFirstConnect,
    RetryAtMostFourTimesPlusOne,  // 99
    // The fast path with a scripted server (tests/e2e), in 127.0.1.N.
    FastPathList = 256 + 1,
    FastPathNotAnnounced,
    FastPathResumedStream,
    FastPathKeptPartDoesNotFit,
    // The updater and the reference server together (tests/integration).
    HundredFiles = 100,
    HundredFilesAgain,
    PartlyOutdated,
    DeletionList,
    ManyUpdaters,
    NetworkWord,
    PortInUse,
    RefusedStart,
    SlowReader,
    WindowedRelease,
    TlsRightPin,
    TlsSecondPin,
    TlsOtherKey,
    TlsPlainServer,
    TlsHandshakeStall,
    TlsWelcomeFrontEnd,  // a TLS front end that sends the WELCOME with its last flight
    TlsWelcomeBehind,    // the plain server behind it
    TlsRenegotiatingFrontEnd,
    TlsRenegotiatingBehind,
    TlsPlainFrontEnd,  // a TLS front end that asks for nothing, for comparison
    TlsPlainBehind,    // 120
    // The update window (tests/app_qt).
    DownloadThenEscape = 150,
    CompleteRun,
    CloseBoxBeforeConnect,
    WindowNoAnnouncement,
    SilentDisplay,  // an X display that never answers
    ProgramWithWindow,
    ManagedWindow,  // the program under a window manager
    ManagedSuccess,
    ManagedCannotLaunch,
    ManagedNoServer,  // 159, where nothing listens
    // Benchmarks (bench/).
    BenchServer = 171,
    BenchLink,  // the link emulator in front of it
    BenchStartup,
    BenchTlsServer,
    BenchStream,         // a plain TCP stream through the link
    BenchOldPathServer,  // 176, the reference server with --no-fast-path, beside BenchServer
    // Fault tests (tests/faults) in 127.0.2.N.
    KilledDownloads = 2 * 256 + 1,
    StopSignals,
    DiskFaults,
    ClosedAtEveryStage,
    SilentServer,
    GarbageFromServer,
    FramesCutAtEveryByte,
    UnsafePaths,
    EscapeSequences,
    UnterminatedListName,
    LongFileSizeName,
    FaultChunkPastFrame,
    EndlessChunks,
    EndlessListChains,
    ConsecutiveRuns,
    ManyAtOnce,
    DiskFull,
    TargetNotAFile,
    UnwritableChecksumRecord,
    ChunksBeyondAnnouncedSize,
    LeftoverRecordFile,
    OtherSignals,
    ShortFrames,
    SilentAfterAnnouncement,
    UnopenableDirectory,
    WholeRunOutOfRoom,  // 127.0.2.26
    SoakConsecutive = 2 * 256 + 200,
    SoakManyAtOnce,
    // The session fuzz harness (fuzz/session) in 127.0.3.N.
    FuzzSession = 3 * 256 + 1,
    // TLS in the socket layer (tests/tls) in 127.0.4.N.
    TlsRightPinLayer = 4 * 256 + 1,
    TlsSecondPinLayer,
    TlsOtherKeyLayer,
    TlsPlainServerLayer,
    TlsSmallRecordsLayer,
    TlsReadAheadToClientLayer,
    TlsReadAheadToServerLayer,
    // The server's limits, draining, PROXY protocol headers and balancer (tests/integration) in
    // 127.0.5.N. [::1]:34005 is taken by ServerListensOnIpv6 alone.
    ServerFull = 5 * 256 + 1,
    ServerPerAddress,
    ServerLoginLimit,
    ServerIdleLimit,
    ServerAcceptRest,
    ServerDrain,
    ServerDrainLimit,
    ServerProxyHeader,
    ServerProxyBalancer,  // haproxy in front of ServerProxyBehind
    ServerProxyBehind,
    ServerProxyTlsBalancer,  // haproxy in front of ServerProxyTlsBehind
    ServerProxyTlsBehind,
    ServerReleaseSwap,
    ServerIpv6Beside,  // 127.0.5.14
    // The server under load (bench/server_load_bench.cpp).
    BenchIdleConnections = 5 * 256 + 100,
    BenchManyClients,
    BenchDescriptorsSpent,
    // scripts/scale-check: haproxy and three servers, the short form and the soak form.
    ScaleCheckBalancer = 5 * 256 + 240,
    ScaleCheckServer1,
    ScaleCheckServer2,
    ScaleCheckServer3,
    SoakScaleCheckBalancer,
    SoakScaleCheckServer1,
    SoakScaleCheckServer2,
    SoakScaleCheckServer3,  // 127.0.5.247
    // The Windows program under wine (scripts/cross-check windows) and the Windows tests
    // (tests/win) in 127.0.6.N.
    WindowsPlainRun = 6 * 256 + 1,  // whole updates with plain lines
    WindowsWindowRun,               // whole updates in the window, on an X server of their own
    WindowsSilentServer,            // a server that accepts and says nothing: the window's picture
    WindowsMessageLoop,             // the message loop's socket notifications
    WindowsHeldEvents,              // socket events held while a box is open
    WindowsSocketLayer,             // the socket layer on the message loop
    // Kills and power cuts at every step of whole runs (tests/faults, tests/soak) and the
    // benchmarks of dropped links and of the commit (bench/) in 127.0.7.N.
    CrashKillOld = 7 * 256 + 1,  // serves the old release, for the client's starting tree
    CrashKillNew,                // serves the new one
    CrashKillUnreachable,        // nothing listens: the runs that must complete a journal
    CrashCutOld,
    CrashCutNew,
    CrashCutUnreachable,
    SoakCrashKillOld,
    SoakCrashKillNew,
    SoakCrashKillUnreachable,
    SoakCrashCutOld,
    SoakCrashCutNew,
    SoakCrashCutUnreachable,
    BenchDroppedServer,
    BenchDroppedLink,  // the link emulator that cuts and silences the connection
    BenchCommitServer,
    BenchCommitLink,    // the link that times the completion
    SupportLinkServer,  // the link emulator's own test (tests/e2e)
    SupportLink,        // 127.0.7.18
    // Pinned TLS: the Windows program through Schannel (tests/win; tests/integration's TLS runs
    // against the .exe under wine, scripts/lib/cross-check-windows-tls.bash), and the servers
    // whose ciphers the updaters of both platforms refuse, in 127.0.8.N.
    WindowsTlsPlainPeer = 8 * 256 + 1,  // tests/win: a peer that answers in plain bytes
    WindowsTlsGarbagePeer,              // tests/win: a peer that answers with a broken record
    WineTlsRightPin,                    // tests/integration under wine, as the Tls* entries above
    WineTlsSecondPin,
    WineTlsOtherKey,
    WineTlsPlainServer,
    WineTlsHandshakeStall,
    WineTlsWelcomeFrontEnd,
    WineTlsWelcomeBehind,
    WineTlsRenegotiatingFrontEnd,
    WineTlsRenegotiatingBehind,
    WineTlsPlainFrontEnd,
    WineTlsPlainBehind,
    TlsCbcFrontEnd,  // a TLS front end that offers a cipher in CBC mode alone
    TlsCbcBehind,
    WineTlsCbcFrontEnd,
    WineTlsCbcBehind,
    WineTlsThroughputPlain,  // the throughput of the .exe under wine, plain TCP and TLS
    WineTlsThroughputTls,    // 127.0.8.20
    // The 32-bit Windows program under the 32-bit wine (scripts/cross-check windows-x86) and the
    // Windows downloads unpacked and run (scripts/package windows) in 127.0.9.N.
    WindowsX86PlainRun = 9 * 256 + 1,  // whole updates with plain lines
    WindowsX86WindowRun,               // whole updates in the window, on an X server of their own
    WindowsX86SilentServer,            // a server that accepts and says nothing
    WindowsPackageRun,                 // the 64-bit zip, unpacked and run under the 64-bit wine
    WindowsX86PackageRun,              // the 32-bit zip under the 32-bit wine
    EmptyClientObsoleteFile,           // tests/integration: an obsolete file in a new directory
    // The Linux suites built for Windows and run under wine (tests/win/WindowsTests.cmake), and
    // the Windows program's stop requests, in 127.0.10.N.
    WindowsSocketPair = 10 * 256 + 1,  // the two ends of a connected pair (test_socket.h)
    WindowsPlainStatusRefused,         // the .exe's plain run: nothing listens
    WindowsPlainStatusSilent,          // the .exe's plain run: a server that says nothing
};

// Clients of the load benchmark each connect from an address of their own: 127.6.X.Y for client
// number X * 256 + Y - 1 (no test listens in 127.6.0.0/16).
inline std::string ClientSourceAddress(int client) {
    int const value = client + 1;
    return "127.6." + std::to_string(value / 256) + "." + std::to_string(value % 256);
}

inline std::string LoopbackAddress(TestAddress test) {
    int const value = static_cast<int>(test);
    return "127.0." + std::to_string(value / 256) + "." + std::to_string(value % 256);
}

}  // namespace qm::test
