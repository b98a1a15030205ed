// The installed server ($QM_SERVER_BINARY; bench/run points it at a `cmake --install`ed tree)
// under the load of many connections, one fresh server process per measurement:
//
//  - idle: 1,000 TCP connections that never log in, opened against a server whose descriptor
//    limit is 256; the server's CPU time over the 10 s from the first connection on, against
//    0.2 s, and an updater ($QM_UPDATER_BINARY) started right after them, which must complete
//    within those 10 s. Two ways: with the default limits (112 clients for 256 descriptors), and
//    with --max-clients 1000 (more than the descriptors allow: accepts fail and the listening
//    socket rests; the updater then waits until descriptors come free, which is only reported);
//  - memory: the server's peak resident memory (VmHWM) with 1,000 clients connected from 1,000
//    addresses, logged in and idle, then with each of them asking for 100 chunks that it never
//    reads; against 64 MiB.
//
// Each client connects from an address of its own in 127.6.0.0/16 (support/addresses.h).
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "problem.h"
#include "ratio_table.h"
#include "support/addresses.h"
#include "support/process.h"
#include "support/profile_text.h"
#include "support/raw_client.h"
#include "support/reference_server.h"
#include "support/release.h"
#include "support/temp_dir.h"
#include "support/wire.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using qm::bench::Problem;
using qm::bench::RatioTable;
using qm::bench::Require;
using qm::test::LoopbackAddress;
using qm::test::Process;
using qm::test::RawClient;
using qm::test::ReferenceServer;
using qm::test::TestAddress;
using Goal = RatioTable::Goal;
using Figure = std::optional<double>;

constexpr int kClients = 1000;
constexpr auto kWindow = 10s;
constexpr double kCpuTarget = 0.2;             // seconds over the window
constexpr double kMemoryTarget = 64.0 * 1024;  // KiB

struct Programs {
    std::string server;
    std::string updater;
};

std::string Environment(char const* name, char const* fallback) {
    char const* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? value : fallback;
}

// User and system time of process `pid` so far, from /proc/PID/stat.
double CpuSecondsOf(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat;
    std::getline(in, stat);
    std::istringstream fields(stat.substr(stat.rfind(')') + 2));
    std::string field;
    long ticks = 0;
    for (int index = 3; fields >> field && index <= 15; ++index) {
        if (index >= 14) {
            ticks += std::stol(field);  // utime (14), stime (15)
        }
    }
    return static_cast<double>(ticks) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

// This process holds a socket for every client: its soft descriptor limit goes up to the hard one.
void AllowManyDescriptors() {
    rlimit limit{};
    ::getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &limit);
    Require(limit.rlim_cur > kClients + 64, "the descriptor limit is below the clients' need");
}

std::unique_ptr<ReferenceServer> StartServer(Programs const& programs, fs::path const& release,
                                             std::string const& address,
                                             std::vector<std::string> const& extra,
                                             rlim_t descriptors) {
    auto server =
        std::make_unique<ReferenceServer>(address, release, extra, programs.server, descriptors);
    Require(server->Ready(60s), "the server did not listen: " + server->Log());
    return server;
}

// Connects client number `i` from its own address.
std::unique_ptr<RawClient> Connect(std::string const& address, int i) {
    return std::make_unique<RawClient>(
        address, RawClient::Options{.source = qm::test::ClientSourceAddress(i), .timeout = 5s});
}

// `updaterGoal` is AtMost when the updater must complete within the window, Informational where
// the configuration is not what the target is about.
void MeasureIdle(Programs const& programs, fs::path const& scratch, RatioTable& table,
                 std::string const& what, std::vector<std::string> const& extra, Goal updaterGoal) {
    fs::path const release = scratch / "release";
    qm::test::WriteTree(release, qm::test::SmallTree());
    std::string const address = LoopbackAddress(TestAddress::BenchIdleConnections);
    auto server = StartServer(programs, release, address, extra, 256);
    double const before = CpuSecondsOf(server->pid());
    auto const start = qm::test::Clock::now();
    std::vector<std::unique_ptr<RawClient>> idle;
    for (int i = 0; i < kClients; ++i) {
        idle.push_back(Connect(address, i));
    }
    auto const client = scratch / ("client-" + std::to_string(start.time_since_epoch().count()));
    qm::test::WriteUpdaterConfig(client, address);
    Process updater(qm::test::UpdaterOptions(client));
    auto const started = qm::test::Clock::now();
    std::this_thread::sleep_until(start + kWindow);
    double const cpu = CpuSecondsOf(server->pid()) - before;
    // The updater's last line comes with its end.
    auto const ending = updater.WaitForExit(60s);
    auto const lines = updater.TimedLines();
    Figure const completed =
        ending && ending->status == 0 && !lines.empty()
            ? Figure(std::chrono::duration<double>(lines.back().at - started).count())
            : std::nullopt;
    std::string const outcome = completed ? "completed in " + std::to_string(*completed) + " s"
                                          : "did not complete: " + updater.Transcript();
    std::printf("idle %s: server CPU %.3f s over %lld s; updater %s\n", what.c_str(), cpu,
                static_cast<long long>(kWindow.count()), outcome.c_str());
    table.Add("Server CPU over 10 s, 1,000 idle connections " + what, cpu, "target", kCpuTarget,
              "s", 1, Goal::AtMost, 1.0);
    table.Add("An updater started after them, from start to exit 0", completed, "the 10 s window",
              static_cast<double>(kWindow.count()), "s", 1, updaterGoal, 1.0);
    server->Stop();
}

void MeasureMemory(Programs const& programs, fs::path const& scratch, RatioTable& table) {
    fs::path const release = scratch / "big-release";
    qm::test::WriteFile(release / "big.bin", qm::test::Pattern(1024 * 1024, 3));
    std::string const address = LoopbackAddress(TestAddress::BenchManyClients);
    auto server = StartServer(programs, release, address, {}, 4096);
    long const startKb = qm::test::PeakResidentKb(server->pid());
    std::vector<std::unique_ptr<RawClient>> clients;
    for (int i = 0; i < kClients; ++i) {
        clients.push_back(Connect(address, i));
        RawClient& client = *clients.back();
        Require(client.Receive(151).size() == 151, "client " + std::to_string(i) + ": no WELCOME");
        Require(
            client.Send(qm::test::Joined({qm::test::LoginMessage(0, 0), qm::test::ServerQuery(0),
                                          qm::test::ListRequest(0, 0, "quillmesh.ini")})),
            "client " + std::to_string(i) + ": cannot log in");
        Require(client.Receive(28 + 148).size() == 28 + 148,
                "client " + std::to_string(i) + ": no announcement or summary");
    }
    std::this_thread::sleep_for(1s);
    long const idleKb = qm::test::PeakResidentKb(server->pid());
    qm::test::Bytes requests = qm::test::FileRequest(0, 0, "big.bin");
    for (std::uint32_t index = 0; index < 100; ++index) {
        qm::test::Append(requests, qm::test::ChunkRequest(0, 0, index, "big.bin"));
    }
    for (auto& client : clients) {
        Require(
            ::send(client->fd(), requests.data(), requests.size(), MSG_NOSIGNAL | MSG_DONTWAIT) > 0,
            "cannot send the chunk requests");
    }
    std::this_thread::sleep_for(3s);
    long const busyKb = qm::test::PeakResidentKb(server->pid());
    std::size_t const connected = qm::test::Occurrences(server->Log(), ": logged in");
    std::printf(
        "memory: VmHWM %ld KiB at start, %ld KiB with %zu clients logged in, %ld KiB with "
        "their chunks unread\n",
        startKb, idleKb, connected, busyKb);
    Require(connected == kClients, "only " + std::to_string(connected) + " clients logged in");
    table.Add("Server peak memory, 1,000 clients logged in and idle", static_cast<double>(idleKb),
              "target", kMemoryTarget, "MiB", 1024, Goal::AtMost, 1.0);
    table.Add("The same after each asked for 100 chunks it does not read",
              static_cast<double>(busyKb), "target", kMemoryTarget, "MiB", 1024, Goal::AtMost, 1.0);
    server->Stop();
}

}  // namespace

int main() try {
    Programs const programs{Environment("QM_SERVER_BINARY", QM_SERVER_PATH),
                            Environment("QM_UPDATER_BINARY", QM_UPDATER_PATH)};
    AllowManyDescriptors();
    qm::test::TempDir const scratch({.enter = false, .prefix = "qm-server-load-bench"});
    RatioTable table("The installed server under many connections, fresh processes");
    MeasureIdle(programs, scratch.path(), table, "(default limits)", {}, Goal::AtMost);
    MeasureIdle(programs, scratch.path(), table, "(--max-clients 1000: accepts fail)",
                {"--max-clients", "1000"}, Goal::Informational);
    MeasureMemory(programs, scratch.path(), table);
    return table.Print() ? 0 : 2;
} catch (std::exception const& problem) {
    std::fprintf(stderr, "server_load_bench: %s\n", problem.what());
    return 1;
}
