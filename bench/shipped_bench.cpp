// The programs as a user runs them ($QM_UPDATER_BINARY and $QM_SERVER_BINARY: bench/run points
// them at a `cmake --install`ed tree, the window module beside the updater), one fresh process
// per measurement, each figure beside its limit from the same run, runs and limits alternating:
//
//  - checksum: from the FileDescription of a cached 256 MiB local file to the updater's Ack,
//    against a fresh `dd` reading the same file with read() in 256 KiB blocks;
//  - download: 256 MiB, from the first ChunkRequest to the Ack after the empty chunk (flush,
//    check and rename included), against the minimal stop-and-wait client through the same link;
//  - memory and start-up: peak resident memory of plain-mode runs (1 MiB, 1 GiB) and of a window
//    run on Xvfb, spawn to first connection in both modes;
//  - links: WINDOW 1 to 256 over 20 and 50 ms round trips against the link's limit; a download
//    killed at half way and resumed; the stall limit; TLS against plain TCP;
//  - dropped: 64 MiB over a 50 ms round trip whose connection is cut every 8 MiB and silent for
//    20 s once, with RETRIES: the time against a clean run plus the waits, the data received twice
//    against one window per drop;
//  - commit: APPLY=run, 1,000 staged files of 4 KiB in 10 directories, from the completion to the
//    start of the client program, against 1 s;
//  - lists, streams, previous: the fast path through the link (bench/fast_path_scenarios.h).
//
// The checksum, download, links and TLS scenarios measure the old walk (the server started with
// --no-fast-path): a FileDescription per file, WINDOW chunks per round trip. Memory, resume and
// stall run against the server as it ships, which announces the fast path.
//
// The frames are timed on a LinkEmulator between the updater and the server (bench/frame_clock.h).
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "base/unix/unique_fd.h"
#include "fast_path_scenarios.h"
#include "problem.h"
#include "random_file.h"
#include "ratio_table.h"
#include "shipped_runs.h"
#include "stop_and_wait_client.h"
#include "support/local_sockets.h"
#include "support/temp_dir.h"

namespace {

using namespace qm::bench;  // shipped_runs.h
using qm::test::Clock;
using qm::test::LinkEmulator;
using qm::test::LoopbackAddress;
using qm::test::Process;
using qm::test::TestAddress;

constexpr std::uint64_t kBigSize = 256 * kMiB;
std::string const kListener = LoopbackAddress(TestAddress::BenchStartup);
std::string const kTlsServer = LoopbackAddress(TestAddress::BenchTlsServer);
std::string const kDroppedServer = LoopbackAddress(TestAddress::BenchDroppedServer);
std::string const kDroppedLink = LoopbackAddress(TestAddress::BenchDroppedLink);
std::string const kCommitServer = LoopbackAddress(TestAddress::BenchCommitServer);
std::string const kCommitLink = LoopbackAddress(TestAddress::BenchCommitLink);

// How the minimal client waits for the server's answer: in recv itself, or, as an event-driven
// program does, in poll before the recv.
enum class Waiting { InRecv, InPoll };

// The minimal client (bench/stop_and_wait_client.h) with recv and send, nothing else: the seconds
// from the arrival of the file's size to the arrival of the empty chunk (and, when it keeps the
// data in `keep`, to the end of the flush).
Figure RawClient(std::string const& server, std::string const& file, std::uint64_t size,
                 Waiting waiting = Waiting::InRecv, fs::path const& keep = {}) {
    qm::bench::StopAndWaitClient client(file);
    Sink sink(keep);
    qm::base::UniqueFd const connection(qm::test::ConnectTo(server));
    int const socket = connection.get();
    timeval const patience{30, 0};
    ::setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
    std::vector<std::uint8_t> buffer(1 << 16);
    std::vector<std::uint8_t> replies;
    while (socket >= 0 && !client.finished() && !client.failed()) {
        pollfd ready{socket, POLLIN, 0};
        if (waiting == Waiting::InPoll && ::poll(&ready, 1, 30000) != 1) {
            break;
        }
        ssize_t const got = ::recv(socket, buffer.data(), buffer.size(), 0);
        if (got <= 0) {
            break;
        }
        replies.clear();
        client.Receive({buffer.data(), static_cast<std::size_t>(got)}, replies);
        if (!qm::test::SendAll(socket, replies)) {
            break;
        }
        sink.Take({buffer.data(), static_cast<std::size_t>(got)});  // while the server answers
    }
    Require(client.finished() && client.dataBytes() == size, "minimal client: " + client.failure());
    return Seconds(sink.Finish(client.finishedAt()) - client.sizeArrivedAt());
}

// ---- Checksum and download on loopback ------------------------------------------------------

// Seconds that a fresh `dd` takes to read `file` in 256 KiB blocks, as dd reports it.
Figure ReadWithDd(fs::path const& file) {
    Process dd({.argv = {"/bin/dd", "if=" + file.string(), "of=/dev/null", "bs=256K"}});
    Require(dd.ExitStatus() == 0, "dd failed: " + dd.ErrorOutput());
    std::string const text = dd.ErrorOutput();
    std::size_t const at = text.find("copied, ");
    return at == std::string::npos ? std::nullopt : Figure(std::stod(text.substr(at + 8)));
}

void MeasureChecksum(Options const& options, fs::path const& scratch, RatioTable& table) {
    fs::path const root = Release(scratch / "release", "big.bin", kBigSize);
    auto const server = StartServer(options, root, kServer, {kNoFastPath});  // descriptions
    fs::path const client = ClientDirectory(scratch / "client-checksum", kLink, "", "big.bin");
    fs::copy_file(root / "big.bin", client / "big.bin", fs::copy_options::skip_existing);
    ReadWithDd(client / "big.bin");  // into the page cache
    Pairs pairs;
    for (int i = 0; i < options.repetitions; ++i) {
        Figure const read = ReadWithDd(client / "big.bin");
        fs::remove(client / "crc.ini");
        UpdaterRun const run = RunThroughLink(options, client, kServer);
        Figure const check = Between(run.times.description, run.times.descriptionAck);
        Require(run.status == 0 && check && read, Failed("checksum run", run));
        Report("checksum run %d: FileDescription to Ack %.1f ms, dd %.1f ms, ratio %.3f", i + 1,
               *check * 1e3, *read * 1e3,
               pairs.Add(kBigSize / *check, kBigSize / *read, *read / *check));
    }
    pairs.Rows(table, "checksum of a cached 256 MiB file: FileDescription to Ack",
               "fresh dd, read() in 256 KiB blocks", "GB/s", 1e9, Goal::AtLeast, 1.0);
}

void MeasureDownload(Options const& options, fs::path const& scratch, RatioTable& table) {
    fs::path const root = Release(scratch / "release", "big.bin", kBigSize);
    auto const server = StartServer(options, root, kServer, {kNoFastPath});  // stop and wait
    Pairs pairs;
    Pairs polling;  // what waiting in poll costs the minimal client
    Pairs keeping;  // what keeping the data on the same disk costs it
    fs::path const kept = scratch / "minimal-client.bin";
    for (int i = 0; i < options.repetitions; ++i) {
        Figure const raw = RawClient(kServer, "big.bin", kBigSize);
        Figure const rawPolling = RawClient(kServer, "big.bin", kBigSize, Waiting::InPoll);
        Figure const rawKeeping = RawClient(kServer, "big.bin", kBigSize, Waiting::InRecv, kept);
        fs::remove(kept);
        fs::path const client = ClientDirectory(scratch / "client-download", kServer);
        UpdaterRun const run = RunUpdater(options, client);
        double const took = LineInterval(run, "download run");
        Require(fs::file_size(client / "big.bin") == kBigSize, Failed("download run", run));
        polling.Add(kBigSize / *rawPolling, kBigSize / *raw, *raw / *rawPolling);
        keeping.Add(kBigSize / *rawKeeping, kBigSize / *raw, *raw / *rawKeeping);
        Report(
            "download run %d: updater %.2f s, minimal client %.2f s, waiting in poll %.2f s, "
            "keeping the data %.2f s, ratio %.3f",
            i + 1, took, *raw, *rawPolling, *rawKeeping,
            pairs.Add(kBigSize / took, kBigSize / *raw, *raw / took));
    }
    pairs.Rows(table, "256 MiB download, to the Ack after the empty chunk",
               "minimal stop-and-wait client, same server", "MB/s", 1e6, Goal::AtLeast, 0.9);
    polling.Rows(table, "the minimal client waiting in poll before each recv",
                 "the same client waiting in recv", "MB/s", 1e6, Goal::Informational, 0);
    keeping.Rows(table,
                 "the minimal client writing what it receives to a file beside the updater's",
                 "the same client dropping it", "MB/s", 1e6, Goal::Informational, 0);
}

// ---- Memory and start-up ----------------------------------------------------------------------

// An X server of the benchmark's own for the window's figures.
struct Display {
    std::string name = ":" + std::to_string(90 + ::getpid() % 9);
    Process xvfb{
        {.argv = {"/usr/bin/Xvfb", name, "-nolisten", "tcp", "-screen", "0", "1280x1024x24"}}};
    Display() { std::this_thread::sleep_for(std::chrono::seconds(2)); }
};

void MeasureMemory(Options const& options, fs::path const& scratch, RatioTable& table) {
    std::map<std::uint64_t, Figure> peaks;
    for (std::uint64_t const size : {kMiB, 1024 * kMiB}) {
        fs::path const root = Release(scratch / ("release-" + std::to_string(size)), "f.bin", size);
        auto const server = StartServer(options, root, kServer);
        UpdaterRun const run =
            RunUpdater(options, ClientDirectory(scratch / "client-memory", kServer));
        Require(run.status == 0, Failed("memory run", run));
        peaks[size] = static_cast<double>(run.peakKiB);
        Report("memory: %llu MiB download, peak %ld KiB",
               static_cast<unsigned long long>(size / kMiB), run.peakKiB);
    }
    table.Add("peak resident memory, plain mode, 1 MiB download", peaks[kMiB], "4 MiB", 4096, "KiB",
              1, Goal::AtMost, 1.0);
    table.Add("peak resident memory, plain mode, 1 GiB download", peaks[1024 * kMiB], "4 MiB", 4096,
              "KiB", 1, Goal::AtMost, 1.0);
    table.Add("peak resident memory, 1 GiB download", peaks[1024 * kMiB], "the same, 1 MiB",
              peaks[kMiB], "KiB", 1, Goal::AtMost, 1.05);
    if (!fs::exists("/usr/bin/Xvfb")) {
        return;
    }
    Display const display;
    auto const server =
        StartServer(options, scratch / ("release-" + std::to_string(kMiB)), kServer);
    fs::path const client = ClientDirectory(scratch / "client-memory", kServer);
    UpdaterRun const run =
        RunUpdater(options, client, {{"DISPLAY", display.name}}, [&](Process& updater) {
            // The run ends in a message box: dismissed by SIGTERM once the record is written.
            for (int i = 0; i < 600 && !fs::exists(client / "crc.ini"); ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
            updater.Signal(SIGTERM);
        });
    Report("memory: window mode, 1 MiB download, peak %ld KiB", run.peakKiB);
    table.Add("peak resident memory, window mode, 1 MiB download", static_cast<double>(run.peakKiB),
              "plain mode", peaks[kMiB], "KiB", 1, Goal::Informational, 0);
}

// From the spawn of `program` to the arrival of its first line.
double SpawnToFirstLine(std::string const& program) {
    Process run({.argv = {program}});
    Require(run.WaitForLineCount(1, qm::test::Millis(10000)), program + " printed nothing");
    double const took = Seconds(run.TimedLines().front().at - run.startedAt());
    Require(run.ExitStatus() == 0, program + " failed");
    return took;
}

void MeasureStartup(Options const& options, fs::path const& scratch, RatioTable& table) {
    qm::base::UniqueFd const listening(qm::test::ListenOn(kListener, 16));
    int const listener = listening.get();
    Require(listener >= 0, "cannot listen on " + kListener);
    std::vector<double> minimal;
    auto const spawnToConnect = [&](std::map<std::string, std::optional<std::string>> env) {
        std::vector<double> delays;
        for (int run = 0; run < options.repetitions; ++run) {
            minimal.push_back(SpawnToFirstLine(options.minimalProgram));
            fs::path const client = ClientDirectory(scratch / "client-startup", kListener);
            Process updater({.argv = {options.updater}, .directory = client, .environment = env});
            pollfd ready{listener, POLLIN, 0};
            Require(::poll(&ready, 1, 10000) == 1, "the updater did not connect within 10 s");
            delays.push_back(Seconds(Clock::now() - updater.startedAt()));
            ::close(::accept(listener, nullptr, nullptr));
        }
        return Median(delays);
    };
    Figure const plain = spawnToConnect({});
    Report("start-up: plain mode, spawn to first connection %.1f ms", *plain * 1e3);
    table.Add("spawn to first connection, plain mode", plain, "the 1000 ms connect timer + 5 ms",
              1.005, "ms", 1e-3, Goal::AtMost, 1.0);
    // What is left of the start-up beside the timer, against the start of any C++ program here.
    Figure const beyondTimer = plain ? Figure(*plain - 1.0) : std::nullopt;
    Figure const anyProgram = Median(minimal);
    Report("start-up: a minimal C++ program, spawn to its first line %.2f ms", *anyProgram * 1e3);
    table.Add("spawn to first connection, plain mode, less the 1000 ms timer", beyondTimer,
              "a minimal C++ program (C++ runtime only), spawn to its first line", anyProgram, "ms",
              1e-3, Goal::Informational, 0);
    if (fs::exists("/usr/bin/Xvfb")) {
        Display const display;
        Figure const window = spawnToConnect({{"DISPLAY", display.name}});
        Report("start-up: window mode, spawn to first connection %.1f ms", *window * 1e3);
        table.Add("spawn to first connection, window mode (display probe, module, window)", window,
                  "plain mode", plain, "ms", 1e-3, Goal::Informational, 0);
    }
}

// ---- Links
// ---------------------------------------------------------------------------------------

void MeasureLinks(Options const& options, fs::path const& scratch, RatioTable& table) {
    struct Window {
        int chunks;
        std::uint64_t size;
    };
    for (int const roundTrip : {20, 50}) {
        auto const oneWay = std::chrono::microseconds(roundTrip * 500);
        Figure const stream = StreamThroughLink(oneWay, 64 * kMiB);
        for (Window const window : {Window{1, kMiB}, Window{16, 8 * kMiB}, Window{64, 32 * kMiB},
                                    Window{256, 128 * kMiB}}) {
            std::string const name = "w" + std::to_string(window.chunks) + ".bin";
            fs::path const root = Release(scratch / ("release-" + name), name, window.size);
            auto const server = StartServer(options, root, kServer, {kNoFastPath});
            fs::path const client = ClientDirectory(
                scratch / "client-links", kLink, "WINDOW=" + std::to_string(window.chunks) + "\n");
            UpdaterRun const run = RunThroughLink(options, client, kServer, {.oneWay = oneWay});
            Figure const took = Between(run.times.firstRequest, run.times.emptyChunkAck);
            Require(run.status == 0 && took && stream, Failed("download over the link", run));
            double const chunksPerRoundTrip = window.chunks * 2027.0 / (roundTrip * 1e-3);
            double const limit = std::min(*stream, chunksPerRoundTrip);
            double const rate = static_cast<double>(window.size) / *took;
            Report("link %d ms, WINDOW=%d: %.2f MB/s; stream %.1f MB/s, window limit %.2f MB/s",
                   roundTrip, window.chunks, rate / 1e6, *stream / 1e6, chunksPerRoundTrip / 1e6);
            table.Add(
                std::to_string(roundTrip) +
                    " ms round trip, WINDOW=" + std::to_string(window.chunks) + ", " +
                    std::to_string(window.size / kMiB) + " MiB",
                rate, limit < *stream ? "WINDOW chunks per round trip" : "TCP stream, same link",
                limit, "MB/s", 1e6,
                roundTrip == 20 && window.chunks == 256 ? Goal::AtLeast : Goal::Informational, 0.8);
        }
    }
}

// The updater that the peak memory probe started, killed outright.
void KillUpdater(Process& probe) {
    std::ifstream children("/proc/" + std::to_string(probe.pid()) + "/task/" +
                           std::to_string(probe.pid()) + "/children");
    pid_t child = 0;
    if (children >> child && child > 0) {
        ::kill(child, SIGKILL);
    }
}

void MeasureResume(Options const& options, fs::path const& scratch, RatioTable& table) {
    fs::path const root = Release(scratch / "release", "big.bin", kBigSize);
    auto const server = StartServer(options, root, kServer);
    Pairs pairs;
    constexpr std::string_view kChecking = "status: Checking big.bin";
    for (int i = 0; i < std::min(options.repetitions, 3); ++i) {
        fs::path const client = ClientDirectory(scratch / "client-resume", kServer);
        UpdaterRun const full = RunUpdater(options, client);
        ClientDirectory(client, kServer);
        RunUpdater(options, client, {}, [](Process& updater) {
            updater.WaitForLine("progress: 50", std::chrono::seconds(120));
            KillUpdater(updater);
        });
        UpdaterRun const rest = RunUpdater(options, client);
        double const fullTook = LineInterval(full, "whole download", kChecking);
        double const restTook = LineInterval(rest, "resumed download", kChecking);
        Report("resume run %d: whole %.2f s, resumed at half way %.2f s, ratio %.3f", i + 1,
               fullTook, restTook, pairs.Add(restTook, fullTook, restTook / fullTook));
    }
    pairs.Rows(table,
               "256 MiB download resumed at half way (Checking big.bin to Operation complete)",
               "the whole download", "s", 1, Goal::AtMost, 0.55);
}

void MeasureStall(Options const& options, fs::path const& scratch, RatioTable& table) {
    fs::path const root = Release(scratch / "release", "big.bin", kBigSize);
    auto const server = StartServer(options, root, kServer);
    fs::path const client = ClientDirectory(scratch / "client-stall", kLink, "TIMEOUT=2\n");
    UpdaterRun const run =
        RunThroughLink(options, client, kServer, {.during = [&](Process& updater) {
                           updater.WaitForLine("progress: 10", std::chrono::seconds(120));
                           ::kill(server->pid(), SIGSTOP);
                       }});
    ::kill(server->pid(), SIGCONT);
    Require(run.status == 3 && run.times.lastByte && !run.lines.empty(),
            Failed("the stalled run", run));
    double const after = Seconds(run.lines.back().at - *run.times.lastByte);
    Report("stall: ending %.3f s after the last byte, TIMEOUT=2", after);
    table.Add("stall: the ending after the last byte, TIMEOUT=2", after, "TIMEOUT", 2.0, "s", 1,
              Goal::AtMost, 1.1);
}

void MeasureTls(Options const& options, fs::path const& scratch, RatioTable& table) {
    fs::path const root = Release(scratch / "release", "big.bin", kBigSize);
    fs::path const key = scratch / "server.key";
    fs::path const certificate = scratch / "server.crt";
    Process maker({.argv = {options.server, "--make-tls-key", "--tls-key", key.string(),
                            "--tls-certificate", certificate.string()}});
    Require(maker.ExitStatus() == 0 && !maker.Lines().empty(), "cannot make a TLS key");
    std::string const pin = maker.Lines().front();
    // The old walk, where WINDOW counts.
    auto const plain = StartServer(options, root, kServer, {kNoFastPath});
    auto const tls = StartServer(
        options, root, kTlsServer,
        {kNoFastPath, "--tls-key", key.string(), "--tls-certificate", certificate.string()});
    auto const download = [&](std::string const& address, std::string const& extra) {
        return LineInterval(
            RunUpdater(options, ClientDirectory(scratch / "client-tls", address, extra)),
            "download for TLS");
    };
    for (int const window : {1, 64}) {
        std::string const extra = "WINDOW=" + std::to_string(window) + "\n";
        Pairs pairs;
        for (int i = 0; i < std::min(options.repetitions, 3); ++i) {
            double const overPlain = download(kServer, extra);
            double const overTls = download(kTlsServer, extra + "PIN=" + pin + "\n");
            Report("TLS, WINDOW=%d: plain %.2f s, TLS %.2f s, ratio %.3f", window, overPlain,
                   overTls,
                   pairs.Add(kBigSize / overTls, kBigSize / overPlain, overPlain / overTls));
        }
        pairs.Rows(table, "256 MiB over TLS, WINDOW=" + std::to_string(window), "plain TCP", "MB/s",
                   1e6, Goal::AtLeast, 0.85);
    }
}

// ---- A dropped link, and the commit of a whole run --------------------------------------------

// What the link delivered to the updater, connection by connection: the bytes, and the chunk data
// it received more than once (whole frames only: the part of a frame that a cut leaves is never
// a chunk to the updater).
class DeliveredChunks {
  public:
    auto Callback() {
        return [this](std::size_t connection, qm::test::LinkDirection direction,
                      std::span<const std::uint8_t> bytes) { Take(connection, direction, bytes); };
    }
    std::uint64_t twice() const {
        std::lock_guard lock(mutex_);
        return twice_;
    }
    // The most that one connection brought again of what an earlier one had brought.
    std::uint64_t MostTwiceInOneConnection() const {
        std::lock_guard lock(mutex_);
        std::uint64_t most = 0;
        for (auto const& [connection, bytes] : twiceOf_) {
            most = std::max(most, bytes);
        }
        return most;
    }
    // Connections that carried exactly `bytes` towards the updater: those the link cut.
    std::size_t CarryingExactly(std::uint64_t bytes) const {
        std::lock_guard lock(mutex_);
        return static_cast<std::size_t>(
            std::count_if(carried_.begin(), carried_.end(),
                          [&](auto const& entry) { return entry.second == bytes; }));
    }

  private:
    void Take(std::size_t connection, qm::test::LinkDirection direction,
              std::span<const std::uint8_t> bytes) {
        if (direction != qm::test::LinkDirection::ToClient) {
            return;
        }
        std::lock_guard lock(mutex_);
        carried_[connection] += bytes.size();
        qm::test::Bytes& pending = streams_[connection];
        pending.insert(pending.end(), bytes.begin(), bytes.end());
        std::size_t used = 0;
        for (std::span<const std::uint8_t> frame : qm::test::SplitFrames(pending).frames) {
            if (qm::test::FrameType(frame) == qm::test::kUpdateType && qm::test::Kind(frame) == 3 &&
                frame.size() >= 21 && !seen_.insert(qm::test::Read32(frame, 15)).second) {
                twice_ += qm::test::Read16(frame, 19);
                twiceOf_[connection] += qm::test::Read16(frame, 19);
            }
            used += frame.size();
        }
        pending.erase(pending.begin(), pending.begin() + static_cast<long>(used));
    }

    mutable std::mutex mutex_;
    std::map<std::size_t, qm::test::Bytes> streams_;
    std::map<std::size_t, std::uint64_t> carried_;
    std::set<std::uint32_t> seen_;
    std::uint64_t twice_ = 0;
    std::map<std::size_t, std::uint64_t> twiceOf_;
};

// The seconds the updater waited to connect again: from the first "reconnecting in" line of each
// wait to the "connecting..." line that ends it.
std::pair<double, int> ReconnectWaits(UpdaterRun const& run) {
    double waited = 0;
    int waits = 0;
    bool waiting = false;
    Clock::time_point since{};
    for (qm::test::TimedLine const& line : run.lines) {
        if (line.text.starts_with("status: reconnecting in ") && !waiting) {
            waiting = true;
            since = line.at;
        } else if (line.text == "status: connecting..." && waiting) {
            waited += Seconds(line.at - since);
            ++waits;
            waiting = false;
        }
    }
    return {waited, waits};
}

void MeasureDroppedLink(Options const& options, fs::path const& scratch, RatioTable& table) {
    constexpr std::uint64_t kSize = 64 * kMiB;
    constexpr std::uint64_t kCutEvery = 8 * kMiB;
    constexpr int kWindow = 64;
    constexpr double kStallLimit = 5;
    auto const oneWay = std::chrono::microseconds(25'000);
    fs::path const root = Release(scratch / "release-dropped", "dropped.bin", kSize);
    auto const server = StartServer(options, root, kDroppedServer);
    std::string const settings = "WINDOW=64\nRETRIES=5\nTIMEOUT=5\n";
    fs::path const client = scratch / "client-dropped";
    Pairs times;
    std::vector<double> twice, window, mostInOne;
    for (int i = 0; i < std::min(options.repetitions, 3); ++i) {
        FrameClock cleanClock;
        UpdaterRun clean;
        {
            LinkEmulator const link({kDroppedLink, kDroppedServer, oneWay, 0, cleanClock.Tap()});
            clean = RunUpdater(options, ClientDirectory(client, kDroppedLink, settings));
        }
        Figure const cleanTook =
            Between(cleanClock.times().firstRequest, cleanClock.times().emptyChunkAck);
        Require(clean.status == 0 && cleanTook, Failed("clean run through the link", clean));
        FrameClock clock;
        DeliveredChunks chunks;
        qm::test::LinkOptions faulty{kDroppedLink, kDroppedServer, oneWay, 0, clock.Tap()};
        faulty.cutEveryToClient = kCutEvery;
        faulty.silentAfter = 4 * kCutEvery + 3 * kMiB;
        faulty.silence = std::chrono::seconds(20);
        faulty.delivered = chunks.Callback();
        UpdaterRun dropped;
        {
            LinkEmulator const link(faulty);
            dropped = RunUpdater(options, ClientDirectory(client, kDroppedLink, settings));
        }
        Figure const took = Between(clock.times().firstRequest, clock.times().emptyChunkAck);
        Require(dropped.status == 0 && took && fs::file_size(client / "dropped.bin") == kSize &&
                    qm::test::ReadFile(client / "dropped.bin") ==
                        qm::test::ReadFile(root / "dropped.bin"),
                Failed("the run through the dropped link", dropped));
        auto const [waited, waits] = ReconnectWaits(dropped);
        // A connection made while the link is silent carries nothing: the updater's own count.
        auto const connections = static_cast<std::size_t>(
            std::count_if(dropped.lines.begin(), dropped.lines.end(),
                          [](auto const& line) { return line.text == "status: connecting..."; }));
        std::size_t const drops = connections - 1;
        std::size_t const cuts = chunks.CarryingExactly(kCutEvery);
        std::size_t const stalls = drops - cuts;
        double const limit = *cleanTook + waited + kStallLimit * static_cast<double>(stalls);
        twice.push_back(static_cast<double>(chunks.twice()));
        mostInOne.push_back(static_cast<double>(chunks.MostTwiceInOneConnection()));
        window.push_back(static_cast<double>(drops * kWindow * 2027));
        Report(
            "dropped link %d: %.1f s in %zu connections (%zu cut, %zu stalled, %d waits of "
            "%.1f s in all); clean run %.1f s; limit %.1f s, ratio %.3f; %llu bytes twice, "
            "at most %llu after one drop; one window per drop %zu bytes",
            i + 1, *took, drops + 1, cuts, stalls, waits, waited, *cleanTook, limit,
            times.Add(*took, limit, *took / limit), static_cast<unsigned long long>(chunks.twice()),
            static_cast<unsigned long long>(chunks.MostTwiceInOneConnection()),
            drops * kWindow * 2027);
    }
    table.Add(
        "64 MiB over 50 ms, WINDOW=64, cut every 8 MiB and silent 20 s once, RETRIES=5 "
        "TIMEOUT=5: one invocation, exit 0 (first request to the last Ack)",
        Median(times.measured), "a clean run through the same link plus the waits",
        Median(times.limit), "s", 1, Goal::Informational, 0);
    table.Add("the same, median of paired ratios", Median(times.ratios), "1", 1.0, "", 1,
              Goal::Informational, 0);
    table.Add("the same: chunk data received twice (most of the runs)",
              *std::max_element(twice.begin(), twice.end()),
              "one window per drop (64 chunks of 2027 bytes)",
              *std::min_element(window.begin(), window.end()), "KiB", 1024, Goal::AtMost, 1.0);
    table.Add("the same: received again after one drop (the most of all drops)",
              *std::max_element(mostInOne.begin(), mostInOne.end()), "one window", kWindow * 2027.0,
              "KiB", 1024, Goal::AtMost, 1.0);
}

// A client directory behind `release` (4 KiB files): every file there, with other bytes.
void Outdate(fs::path const& client, fs::path const& release, std::mt19937_64& random) {
    for (auto const& entry : fs::recursive_directory_iterator(release)) {
        if (entry.is_regular_file()) {
            fs::path const target = client / entry.path().lexically_relative(release);
            fs::create_directories(target.parent_path());
            qm::bench::WriteRandomFile(target.string(), entry.file_size(), random);
        }
    }
}

void MeasureCommit(Options const& options, fs::path const& scratch, RatioTable& table) {
    constexpr int kDirectories = 10;
    constexpr int kFilesEach = 100;
    fs::path const root = scratch / "release-commit";
    std::mt19937_64 random(4096);
    for (int d = 0; d < kDirectories; ++d) {
        for (int f = 0; f < kFilesEach; ++f) {
            fs::path const file = root / ("d" + std::to_string(d)) / ("f" + std::to_string(f));
            fs::create_directories(file.parent_path());
            qm::bench::WriteRandomFile(file.string(), 4096, random);
        }
    }
    auto const server = StartServer(options, root, kCommitServer);
    fs::path const stamp = scratch / "commit.stamp";
    // From the completion on the link to the moment the client program noted its start.
    auto const completionToStart = [&](std::string const& apply) {
        fs::path const client = ClientDirectory(
            scratch / "client-commit", kCommitLink,
            "APPLY=" + apply + "\nEXE=" + options.startStamp + " " + stamp.string() + "\n");
        Outdate(client, root, random);
        fs::remove(stamp);
        FrameClock clock;
        UpdaterRun run;
        {
            LinkEmulator const link({kCommitLink, kCommitServer, {}, 0, clock.Tap()});
            run = RunUpdater(options, client);
        }
        for (int i = 0; i < 500 && !fs::exists(stamp); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        long long started = 0;
        std::ifstream(stamp) >> started;
        Require(run.status == 0 && started > 0 && clock.times().completion,
                Failed("the commit run, APPLY=" + apply, run));
        Clock::time_point const start{std::chrono::nanoseconds(started)};
        return Seconds(start - *clock.times().completion);
    };
    Pairs pairs;
    for (int i = 0; i < options.repetitions; ++i) {
        double const whole = completionToStart("run");
        double const single = completionToStart("file");
        pairs.Add(whole, single, whole / single);
        Report(
            "commit %d: 1000 staged files, completion to the program's start %.1f ms "
            "(APPLY=file: %.1f ms)",
            i + 1, whole * 1e3, single * 1e3);
    }
    table.Add(
        "APPLY=run, 1,000 staged files of 4 KiB in 10 directories: the completion to the "
        "program's start (commit, flushes included)",
        Median(pairs.measured), "1 s", 1.0, "ms", 1e-3, Goal::AtMost, 1.0);
    table.Add("the same run with APPLY=file (nothing left to commit)", Median(pairs.limit),
              "APPLY=run", Median(pairs.measured), "ms", 1e-3, Goal::Informational, 0);
}

Options ReadOptions(int argc, char** argv) {
    auto const environment = [](char const* name, char const* fallback) {
        char const* value = std::getenv(name);
        return std::string(value != nullptr && *value != '\0' ? value : fallback);
    };
    Options options{environment("QM_UPDATER_BINARY", QM_UPDATER_PATH),
                    environment("QM_SERVER_BINARY", QM_SERVER_PATH),
                    QM_PEAK_PROBE_PATH,
                    QM_MINIMAL_PROGRAM_PATH,
                    QM_START_STAMP_PATH,
                    environment("QM_PREVIOUS_UPDATER_BINARY", "")};
    for (int i = 1; i < argc; ++i) {
        std::string const argument = argv[i];
        if (argument.starts_with("--repetitions=")) {
            options.repetitions = std::max(1, std::stoi(argument.substr(14)));
        } else if (argument.starts_with("--scenarios=")) {
            options.scenarios = argument.substr(12);
        } else if (!argument.starts_with("--benchmark_")) {  // those are checksum_bench's
            throw Problem(
                "usage: shipped_bench [--repetitions=N] [--scenarios=" + options.scenarios + "]");
        }
    }
    return options;
}

}  // namespace

int main(int argc, char** argv) try {
    Options const options = ReadOptions(argc, argv);
    qm::test::TempDir const scratch({.enter = false, .prefix = "qm-shipped-bench"});
    Require(scratch.FreeBytes() > 4 * 1024 * kMiB,
            "less than 4 GiB free in " + scratch.path().string());
    RatioTable shipped("The installed programs, fresh processes");
    RatioTable links("Links, resumed downloads, the stall limit, TLS");
    RatioTable fast("The fast path through the link emulator");
    RatioTable previous("Against a server that announces nothing: this build and the previous");
    struct Scenario {
        std::string name;
        void (*measure)(Options const&, fs::path const&, RatioTable&);
        RatioTable& table;
    };
    std::vector<Scenario> const scenarios{
        {"checksum", MeasureChecksum, shipped}, {"download", MeasureDownload, shipped},
        {"memory", MeasureMemory, shipped},     {"startup", MeasureStartup, shipped},
        {"links", MeasureLinks, links},         {"resume", MeasureResume, links},
        {"stall", MeasureStall, links},         {"tls", MeasureTls, links},
        {"dropped", MeasureDroppedLink, links}, {"commit", MeasureCommit, shipped},
        {"lists", MeasureLists, fast},          {"streams", MeasureStreams, fast},
        {"previous", MeasurePrevious, previous}};
    bool failed = false;
    for (auto const& [name, measure, table] : scenarios) {
        try {
            if (options.Wants(name)) {
                measure(options, scratch.path(), table);
            }
        } catch (std::exception const& problem) {
            std::fprintf(stderr, "shipped_bench: %s: %s\n", name.c_str(), problem.what());
            failed = true;
        }
    }
    bool const shippedMet = shipped.Print();
    bool const linksMet = links.Print();
    bool const fastMet = fast.Print();
    bool const previousMet = previous.Print();
    bool const met = shippedMet && linksMet && fastMet && previousMet;
    return failed ? 1 : met ? 0 : 2;
} catch (std::exception const& problem) {
    std::fprintf(stderr, "shipped_bench: %s\n", problem.what());
    return 1;
}
