// The download path against its limits, each measured in the same run:
//
//  - throughput: a 256 MiB download by quillmesh-updater against the protocol's own limit on
//    this machine, a minimal client that does nothing but the stop-and-wait exchange with the
//    reference server and drops the data. Both are timed over the same window, from the
//    arrival of the file's size to the arrival of the empty chunk, and alternate run by run;
//  - scale: 50 clients at once against the sum of single-client runs, with the server's CPU
//    time per MiB served in both;
//  - memory: the updater's peak resident memory for a 1 MiB and a 1 GiB download, and for a
//    1 GiB download that replaces a different local file (which is checksummed first);
//  - start-up: from the updater's spawn to its first connection, against its 1000 ms timer.
//
// The servers listen on 127.0.0.171 to 127.0.0.175, port 34005.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "client_driver.h"
#include "process_cpu.h"
#include "random_file.h"
#include "ratio_table.h"
#include "stop_and_wait_client.h"
#include "support/addresses.h"
#include "support/process.h"
#include "support/profile_text.h"
#include "support/reference_server.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using qm::bench::RatioTable;
using qm::test::Clock;
using qm::test::LoopbackAddress;
using qm::test::Process;
using qm::test::ReferenceServer;
using qm::test::TestAddress;
using Goal = RatioTable::Goal;

constexpr std::uint64_t kMiB = std::uint64_t{1} << 20;
constexpr std::uint64_t kThroughputFileSize = 256 * kMiB;
constexpr std::size_t kScaleClients = 50;
constexpr std::uint64_t kScaleFileSize = 8 * kMiB;
constexpr std::size_t kSingleClientRuns = 5;
constexpr int kStartupRuns = 5;
constexpr long kResidentLimitKiB = 8 * 1024;

std::string const kThroughputAddress = LoopbackAddress(TestAddress::BenchThroughput);
std::string const kScaleAddress = LoopbackAddress(TestAddress::BenchScale);
std::string const kSmallAddress = LoopbackAddress(TestAddress::BenchSmall);
std::string const kLargeAddress = LoopbackAddress(TestAddress::BenchLarge);
std::string const kStartupAddress = LoopbackAddress(TestAddress::BenchStartup);

struct Programs {
    std::string updater;
    std::string server;
    std::string peakProbe;
};

double Seconds(Clock::duration duration) {
    return std::chrono::duration<double>(duration).count();
}

std::optional<double> Median(std::vector<double> values) {
    if (values.empty()) {
        return std::nullopt;
    }
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

std::string MakeRelease(fs::path const& root, std::vector<std::string> const& names,
                        std::uint64_t size, std::mt19937_64& random) {
    fs::create_directories(root);
    for (std::string const& name : names) {
        if (!qm::bench::WriteRandomFile((root / name).string(), size, random)) {
            return "cannot write " + (root / name).string();
        }
    }
    return {};
}

// Starts the reference server for `root` on `address`; empty once it listens (it checksums the
// release first), otherwise why not.
std::string StartServer(std::optional<ReferenceServer>& server, Programs const& programs,
                        fs::path const& root, std::string const& address) {
    server.emplace(address, root, std::vector<std::string>{}, programs.server);
    return server->Ready(std::chrono::seconds(60)) ? ""
                                                   : "the server did not listen: " + server->Log();
}

// A fresh client directory; `existing` names a local file to put there first (a different
// version of the one to download), with `existingSize` random bytes.
fs::path FreshClientDirectory(fs::path const& path, std::string const& existing = "",
                              std::uint64_t existingSize = 0) {
    fs::remove_all(path);
    fs::create_directories(path);
    if (!existing.empty()) {
        std::mt19937_64 other(7);
        qm::bench::WriteRandomFile((path / existing).string(), existingSize, other);
    }
    return path;
}

// ---- Throughput: updater against the stop-and-wait limit --------------------------------

struct StopAndWaitRun {
    std::string problem;
    double bytesPerSecond = 0;
};

StopAndWaitRun RunLimitClient(std::string const& address, std::string const& file,
                              std::uint64_t expectedSize) {
    std::vector<qm::bench::StopAndWaitClient> clients{qm::bench::StopAndWaitClient(file)};
    StopAndWaitRun run;
    run.problem = qm::bench::RunClients(address, clients, std::chrono::seconds(900));
    if (run.problem.empty() && clients[0].dataBytes() != expectedSize) {
        run.problem =
            "the minimal client received " + std::to_string(clients[0].dataBytes()) + " bytes";
    }
    if (run.problem.empty()) {
        run.bytesPerSecond = static_cast<double>(clients[0].dataBytes()) /
                             Seconds(clients[0].finishedAt() - clients[0].sizeArrivedAt());
    }
    return run;
}

struct UpdaterDownload {
    std::string problem;
    double bytesPerSecond = 0;     // over the chunk exchange
    double secondsAfterTimer = 0;  // the whole run less the 1000 ms connect timer
    long peakResidentKiB = 0;
};

UpdaterDownload DownloadWithUpdater(Programs const& programs, fs::path const& directory,
                                    std::string const& address, std::string const& file,
                                    std::uint64_t size) {
    // Through the probe (bench/peak_rss_probe.cpp), so that the peak memory is the updater's own.
    qm::test::WriteUpdaterConfig(directory, address);
    fs::path const report = directory / ".peak-resident-kib";
    Process updater(
        {.argv = {programs.peakProbe, report.string(), programs.updater}, .directory = directory});
    std::optional<qm::test::Ending> const ending = updater.WaitForExit(std::chrono::seconds(1800));
    Clock::time_point const endedAt = Clock::now();
    std::vector<qm::test::TimedLine> const lines = updater.TimedLines();
    auto const firstLine = [&](std::string const& prefix,
                               std::string const& part = "") -> std::optional<Clock::time_point> {
        for (qm::test::TimedLine const& line : lines) {
            if (line.text.starts_with(prefix) && line.text.find(part) != std::string::npos) {
                return line.at;
            }
        }
        return std::nullopt;
    };
    UpdaterDownload download;
    auto const sizeArrived = firstLine("status: file:");
    auto const lastChunk = firstLine("transfer:", "(100 %)");
    std::error_code error;
    std::ifstream peak(report);
    if (!ending) {
        download.problem = "the updater did not end in time";
    } else if (!(peak >> download.peakResidentKiB)) {
        download.problem = "no peak memory from " + programs.peakProbe;
    } else if (ending->status != 0) {
        download.problem = "the updater ended with status " + std::to_string(ending->status) +
                           (lines.empty() ? "" : ": " + lines.back().text);
    } else if (download.problem.empty() && fs::file_size(directory / file, error) != size) {
        download.problem = "the downloaded file has the wrong size";
    } else if (download.problem.empty() && (!sizeArrived || !lastChunk)) {
        download.problem = "the updater's output does not show the download";
    }
    if (download.problem.empty()) {
        download.bytesPerSecond = static_cast<double>(size) / Seconds(*lastChunk - *sizeArrived);
        download.secondsAfterTimer = Seconds(endedAt - updater.startedAt()) - 1.0;
    }
    return download;
}

struct ThroughputFigures {
    std::optional<double> limit;
    std::optional<double> updater;
    std::optional<double> updaterWholeRun;  // bytes per second over the run less the timer
    std::optional<double> pairedRatio;      // median over the runs of updater / limit
};

std::string MeasureThroughput(Programs const& programs, fs::path const& scratch, int repetitions,
                              std::mt19937_64& random, ThroughputFigures& figures) {
    fs::path const root = scratch / "release-throughput";
    if (auto problem = MakeRelease(root, {"big.bin"}, kThroughputFileSize, random);
        !problem.empty()) {
        return problem;
    }
    std::optional<ReferenceServer> server;
    if (auto problem = StartServer(server, programs, root, kThroughputAddress); !problem.empty()) {
        return problem;
    }
    std::vector<double> limit;
    std::vector<double> updater;
    std::vector<double> whole;
    std::vector<double> ratios;
    for (int repetition = 0; repetition < repetitions; ++repetition) {
        StopAndWaitRun const bare =
            RunLimitClient(kThroughputAddress, "big.bin", kThroughputFileSize);
        if (!bare.problem.empty()) {
            return "minimal client: " + bare.problem;
        }
        limit.push_back(bare.bytesPerSecond);
        fs::path const client = FreshClientDirectory(scratch / "client-throughput");
        UpdaterDownload const download = DownloadWithUpdater(programs, client, kThroughputAddress,
                                                             "big.bin", kThroughputFileSize);
        if (!download.problem.empty()) {
            return "updater: " + download.problem;
        }
        updater.push_back(download.bytesPerSecond);
        whole.push_back(static_cast<double>(kThroughputFileSize) / download.secondsAfterTimer);
        ratios.push_back(download.bytesPerSecond / bare.bytesPerSecond);
        std::printf(
            "throughput run %d: minimal client %.1f MB/s, updater %.1f MB/s (ratio %.3f), "
            "whole run less the timer %.2f s\n",
            repetition + 1, bare.bytesPerSecond / 1e6, download.bytesPerSecond / 1e6,
            download.bytesPerSecond / bare.bytesPerSecond, download.secondsAfterTimer);
        std::fflush(stdout);
        fs::remove_all(client);
    }
    figures = {Median(limit), Median(updater), Median(whole), Median(ratios)};
    return {};
}

// ---- Scale: 50 clients at once against single clients ------------------------------------

struct ScaleFigures {
    std::optional<double> single;      // bytes per second, median of single runs
    std::optional<double> together;    // bytes per second, all clients together
    double serverCpuPerMiBSingle = 0;  // seconds
    double serverCpuPerMiBTogether = 0;
    double serverShareTogether = 0;  // of all the machine's CPU time during the run
    double clientShareTogether = 0;
    // What the machine could serve if the server and the clients had every processor to
    // themselves: processors / (server and client CPU time per byte), bytes per second.
    std::optional<double> cpuBound;
};

std::string ScaleFileName(std::size_t index) {
    return "m" + std::to_string(index / 10) + std::to_string(index % 10) + ".bin";
}

std::string MeasureScale(Programs const& programs, fs::path const& scratch, std::mt19937_64& random,
                         ScaleFigures& figures) {
    fs::path const root = scratch / "release-scale";
    std::vector<std::string> names;
    for (std::size_t i = 0; i < kScaleClients; ++i) {
        names.push_back(ScaleFileName(i));
    }
    if (auto problem = MakeRelease(root, names, kScaleFileSize, random); !problem.empty()) {
        return problem;
    }
    std::optional<ReferenceServer> server;
    if (auto problem = StartServer(server, programs, root, kScaleAddress); !problem.empty()) {
        return problem;
    }
    auto const serverCpuSoFar = [&server] { return qm::test::CpuSecondsSoFar(server->pid()); };
    std::vector<double> single;
    double const singleCpuBefore = serverCpuSoFar();
    for (std::size_t run = 0; run < kSingleClientRuns; ++run) {
        StopAndWaitRun const bare = RunLimitClient(kScaleAddress, names[run], kScaleFileSize);
        if (!bare.problem.empty()) {
            return "single client: " + bare.problem;
        }
        single.push_back(bare.bytesPerSecond);
    }
    double const singleMiB = static_cast<double>(kSingleClientRuns * kScaleFileSize) / kMiB;
    figures.serverCpuPerMiBSingle = (serverCpuSoFar() - singleCpuBefore) / singleMiB;
    figures.single = Median(single);

    std::vector<qm::bench::StopAndWaitClient> clients;
    for (std::string const& name : names) {
        clients.emplace_back(name);
    }
    double const serverCpuBefore = serverCpuSoFar();
    double const clientCpuBefore = qm::bench::ProcessCpuSeconds();
    auto const startedAt = Clock::now();
    if (auto problem = qm::bench::RunClients(kScaleAddress, clients, std::chrono::seconds(900));
        !problem.empty()) {
        return "50 clients: " + problem;
    }
    double const wall = Seconds(Clock::now() - startedAt);
    double const serverCpu = serverCpuSoFar() - serverCpuBefore;
    double const clientCpu = qm::bench::ProcessCpuSeconds() - clientCpuBefore;
    Clock::time_point first = clients[0].sizeArrivedAt();
    Clock::time_point last = clients[0].finishedAt();
    std::uint64_t bytes = 0;
    for (auto const& client : clients) {
        first = std::min(first, client.sizeArrivedAt());
        last = std::max(last, client.finishedAt());
        bytes += client.dataBytes();
    }
    if (bytes != kScaleClients * kScaleFileSize) {
        return "the 50 clients received " + std::to_string(bytes) + " bytes";
    }
    figures.together = static_cast<double>(bytes) / Seconds(last - first);
    figures.serverCpuPerMiBTogether = serverCpu / (static_cast<double>(bytes) / kMiB);
    double const machine = wall * static_cast<double>(::sysconf(_SC_NPROCESSORS_ONLN));
    figures.serverShareTogether = serverCpu / machine;
    figures.clientShareTogether = clientCpu / machine;
    figures.cpuBound = static_cast<double>(::sysconf(_SC_NPROCESSORS_ONLN)) *
                       static_cast<double>(bytes) / (serverCpu + clientCpu);
    std::printf(
        "scale: single client %.1f MB/s (median of %zu), %zu clients together %.1f MB/s; "
        "server CPU %.2f ms/MiB alone, %.2f ms/MiB with %zu clients; "
        "CPU share of the machine during the run: server %.0f %%, clients %.0f %%\n",
        *figures.single / 1e6, kSingleClientRuns, kScaleClients, *figures.together / 1e6,
        figures.serverCpuPerMiBSingle * 1e3, figures.serverCpuPerMiBTogether * 1e3, kScaleClients,
        figures.serverShareTogether * 100, figures.clientShareTogether * 100);
    std::fflush(stdout);
    return {};
}

// ---- Memory --------------------------------------------------------------------------------

struct MemoryFigures {
    long small = 0;    // KiB, 1 MiB download
    long large = 0;    // KiB, 1 GiB download
    long replace = 0;  // KiB, 1 GiB download over a different local file
};

std::string MeasureMemory(Programs const& programs, fs::path const& scratch,
                          std::mt19937_64& random, MemoryFigures& figures) {
    fs::path const smallRoot = scratch / "release-small";
    fs::path const largeRoot = scratch / "release-large";
    if (auto problem = MakeRelease(smallRoot, {"one.bin"}, kMiB, random); !problem.empty()) {
        return problem;
    }
    if (auto problem = MakeRelease(largeRoot, {"giga.bin"}, 1024 * kMiB, random);
        !problem.empty()) {
        return problem;
    }
    std::optional<ReferenceServer> small;
    std::optional<ReferenceServer> large;
    for (auto problem : {StartServer(small, programs, smallRoot, kSmallAddress),
                         StartServer(large, programs, largeRoot, kLargeAddress)}) {
        if (!problem.empty()) {
            return problem;
        }
    }
    fs::path const client = scratch / "client-memory";
    UpdaterDownload download =
        DownloadWithUpdater(programs, FreshClientDirectory(client), kSmallAddress, "one.bin", kMiB);
    if (!download.problem.empty()) {
        return "1 MiB download: " + download.problem;
    }
    figures.small = download.peakResidentKiB;
    download = DownloadWithUpdater(programs, FreshClientDirectory(client), kLargeAddress,
                                   "giga.bin", 1024 * kMiB);
    if (!download.problem.empty()) {
        return "1 GiB download: " + download.problem;
    }
    figures.large = download.peakResidentKiB;
    std::printf("memory: 1 GiB download at %.1f MB/s\n", download.bytesPerSecond / 1e6);
    download = DownloadWithUpdater(programs, FreshClientDirectory(client, "giga.bin", 1024 * kMiB),
                                   kLargeAddress, "giga.bin", 1024 * kMiB);
    if (!download.problem.empty()) {
        return "1 GiB replacing download: " + download.problem;
    }
    figures.replace = download.peakResidentKiB;
    std::printf(
        "memory: peak resident %ld KiB (1 MiB), %ld KiB (1 GiB), %ld KiB (1 GiB over a "
        "local 1 GiB file)\n",
        figures.small, figures.large, figures.replace);
    std::fflush(stdout);
    fs::remove_all(client);
    return {};
}

// ---- Start-up --------------------------------------------------------------------------------

// A listening socket that only notes when a connection arrives.
class Listener {
  public:
    explicit Listener(std::string const& address) : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
        int const reuse = 1;
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_port = htons(34005);
        ::inet_pton(AF_INET, address.c_str(), &local.sin_addr);
        if (::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse) != 0 ||
            ::bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
            ::listen(fd_, 4) != 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~Listener() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Listener(Listener const&) = delete;
    Listener& operator=(Listener const&) = delete;

    bool listening() const { return fd_ >= 0; }

    // When the next connection was accepted; nothing within `timeout`.
    std::optional<Clock::time_point> Accept(std::chrono::milliseconds timeout) const {
        pollfd ready{fd_, POLLIN, 0};
        if (::poll(&ready, 1, static_cast<int>(timeout.count())) != 1) {
            return std::nullopt;
        }
        int const connection = ::accept(fd_, nullptr, nullptr);
        auto const at = Clock::now();
        if (connection < 0) {
            return std::nullopt;
        }
        ::close(connection);
        return at;
    }

  private:
    int fd_;
};

std::string MeasureStartup(Programs const& programs, fs::path const& scratch,
                           std::optional<double>& seconds) {
    Listener const listener(kStartupAddress);
    if (!listener.listening()) {
        return "cannot listen on " + kStartupAddress;
    }
    std::vector<double> delays;
    for (int run = 0; run < kStartupRuns; ++run) {
        fs::path const client = FreshClientDirectory(scratch / "client-startup");
        qm::test::WriteUpdaterConfig(client, kStartupAddress);
        Process updater({.argv = {programs.updater}, .directory = client});
        auto const accepted = listener.Accept(std::chrono::milliseconds(5000));
        if (!accepted) {
            return "the updater did not connect within 5 s";
        }
        delays.push_back(Seconds(*accepted - updater.startedAt()));
    }
    seconds = Median(delays);
    std::printf("start-up: spawn to first connection %.1f ms (median of %d)\n", *seconds * 1e3,
                kStartupRuns);
    return {};
}

// ---- Report ----------------------------------------------------------------------------------

template <typename Wanted>
bool PrintRatios(Wanted const& wanted, ThroughputFigures const& throughput,
                 ScaleFigures const& scale, MemoryFigures const& memory,
                 std::optional<double> startup) {
    RatioTable table("Download path");
    if (wanted("throughput")) {
        table.Add("quillmesh-updater, 256 MiB download (chunk exchange)", throughput.updater,
                  "stop-and-wait limit: minimal client, same server", throughput.limit, "MB/s", 1e6,
                  Goal::AtLeast, 0.90);
        table.Add("the same, median of the ratios of neighbouring runs", throughput.pairedRatio,
                  "1", 1.0, "", 1, Goal::AtLeast, 0.90);
        table.Add("quillmesh-updater, whole run less the 1 s timer", throughput.updaterWholeRun,
                  "stop-and-wait limit", throughput.limit, "MB/s", 1e6, Goal::Informational, 0);
    }
    if (wanted("scale")) {
        std::optional<double> sumOfSingles;
        if (scale.single) {
            sumOfSingles = *scale.single * static_cast<double>(kScaleClients);
        }
        table.Add("50 clients at once, total", scale.together, "sum of 50 single-client runs",
                  sumOfSingles, "MB/s", 1e6, Goal::Informational, 0);
        table.Add("50 clients at once, total", scale.together,
                  "all processors busy with server and clients (CPU time per MiB)", scale.cpuBound,
                  "MB/s", 1e6, Goal::Informational, 0);
        table.Add("50 clients at once, total", scale.together, "one client alone", scale.single,
                  "MB/s", 1e6, Goal::Informational, 0);
        table.Add("server CPU per MiB served, 50 clients", scale.serverCpuPerMiBTogether,
                  "server CPU per MiB, one client", scale.serverCpuPerMiBSingle, "ms", 1e-3,
                  Goal::AtMost, 1.10);
    }
    if (wanted("memory")) {
        table.Add("peak resident memory, 1 MiB download", static_cast<double>(memory.small),
                  "8 MiB", static_cast<double>(kResidentLimitKiB), "KiB", 1, Goal::AtMost, 1.0);
        table.Add("peak resident memory, 1 GiB download", static_cast<double>(memory.large),
                  "8 MiB", static_cast<double>(kResidentLimitKiB), "KiB", 1, Goal::AtMost, 1.0);
        table.Add("peak resident memory, 1 GiB over a local 1 GiB file",
                  static_cast<double>(memory.replace), "8 MiB",
                  static_cast<double>(kResidentLimitKiB), "KiB", 1, Goal::AtMost, 1.0);
        table.Add("peak resident memory, 1 GiB download", static_cast<double>(memory.large),
                  "the same, 1 MiB download", static_cast<double>(memory.small), "KiB", 1,
                  Goal::AtMost, 1.05);
        table.Add("spawn to first connection", startup, "the 1000 ms connect timer", 1.0, "ms",
                  1e-3, Goal::AtMost, 1.01);
    }
    return table.Print();
}

std::string EnvironmentOr(char const* name, char const* fallback) {
    char const* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? value : fallback;
}

}  // namespace

int main(int argc, char** argv) {
    int repetitions = 5;
    std::string scenarios = "throughput,scale,memory,startup";
    for (int i = 1; i < argc; ++i) {
        std::string const argument = argv[i];
        if (argument.starts_with("--repetitions=")) {
            repetitions = std::max(1, std::stoi(argument.substr(14)));
        } else if (argument.starts_with("--scenarios=")) {
            scenarios = argument.substr(12);
        } else if (argument.starts_with("--benchmark_")) {
            continue;  // meant for the Google Benchmark programs that bench/run also runs
        } else {
            std::fprintf(
                stderr,
                "usage: %s [--repetitions=N] [--scenarios=throughput,scale,memory,startup]\n"
                "The programs measured: $QM_UPDATER_BINARY, $QM_SERVER_BINARY (default: "
                "the ones built with the benchmark).\n",
                argv[0]);
            return 1;
        }
    }
    auto const wanted = [&](std::string const& name) {
        return ("," + scenarios + ",").find("," + name + ",") != std::string::npos;
    };
    Programs const programs{EnvironmentOr("QM_UPDATER_BINARY", QM_UPDATER_PATH),
                            EnvironmentOr("QM_SERVER_BINARY", QM_SERVER_PATH), QM_PEAK_PROBE_PATH};
    qm::test::TempDir const scratch({.enter = false, .prefix = "qm-download-bench"});
    if (scratch.FreeBytes() < 5 * 1024 * kMiB) {
        std::fprintf(stderr, "less than 5 GiB free in %s\n", scratch.path().c_str());
        return 1;
    }
    std::mt19937_64 random(2027);
    ThroughputFigures throughput;
    ScaleFigures scale;
    MemoryFigures memory;
    std::optional<double> startup;
    std::vector<std::string> problems;
    auto note = [&](std::string problem) {
        if (!problem.empty()) {
            std::fprintf(stderr, "download_bench: %s\n", problem.c_str());
            problems.push_back(std::move(problem));
        }
    };
    if (wanted("throughput")) {
        note(MeasureThroughput(programs, scratch.path(), repetitions, random, throughput));
    }
    if (wanted("scale")) {
        note(MeasureScale(programs, scratch.path(), random, scale));
    }
    if (wanted("memory")) {
        note(MeasureMemory(programs, scratch.path(), random, memory));
    }
    if (wanted("startup")) {
        note(MeasureStartup(programs, scratch.path(), startup));
    }
    bool const met = PrintRatios(wanted, throughput, scale, memory, startup);
    return !problems.empty() ? 1 : met ? 0 : 2;
}
