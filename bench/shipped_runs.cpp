#include "shipped_runs.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <fstream>
#include <random>
#include <thread>

#include "problem.h"
#include "random_file.h"
#include "support/link_emulator.h"
#include "support/local_sockets.h"
#include "support/temp_dir.h"

namespace qm::bench {

double Seconds(test::Clock::duration duration) {
    return std::chrono::duration<double>(duration).count();
}

Figure Median(std::vector<double> values) {
    if (values.empty()) {
        return std::nullopt;
    }
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

Figure Between(FrameClock::Time from, FrameClock::Time to) {
    return from && to ? Figure(Seconds(*to - *from)) : std::nullopt;
}

double Pairs::Add(double figure, double bound, double ratio) {
    measured.push_back(figure);
    limit.push_back(bound);
    ratios.push_back(ratio);
    return ratio;
}

void Pairs::Rows(RatioTable& table, std::string const& what, std::string const& limitName,
                 std::string const& unit, double scale, Goal goal, double target) const {
    table.Add(what, Median(measured), limitName, Median(limit), unit, scale, goal, target);
    table.Add("the same, median of paired ratios", Median(ratios), "1", 1.0, "", 1, goal, target);
}

void Report(char const* format, ...) {
    std::va_list arguments;
    va_start(arguments, format);
    std::vprintf(format, arguments);
    va_end(arguments);
    std::string load;
    std::ifstream("/proc/loadavg") >> load;
    std::printf(" (load %s)\n", load.c_str());
    std::fflush(stdout);
}

void WriteSettings(fs::path const& directory, std::string const& address,
                   std::string const& extra) {
    Require(test::WriteFile(directory / "upd.ini", "[GENERAL]\nSERVER=" + address + "\n" + extra),
            "cannot write upd.ini");
}

fs::path ClientDirectory(fs::path const& path, std::string const& address, std::string const& extra,
                         std::string const& keep) {
    fs::create_directories(path);
    for (auto const& entry : fs::directory_iterator(path)) {
        if (entry.path().filename() != keep) {
            fs::remove_all(entry.path());
        }
    }
    WriteSettings(path, address, extra);
    return path;
}

fs::path Release(fs::path const& root, std::string const& name, std::uint64_t size) {
    static std::mt19937_64 random(2027);
    fs::create_directories(root);
    if (!fs::exists(root / name)) {
        WriteRandomFile((root / name).string(), size, random);
    }
    return root;
}

std::unique_ptr<test::ReferenceServer> StartServer(Options const& options, fs::path const& root,
                                                   std::string const& address,
                                                   std::vector<std::string> const& extra) {
    auto server = std::make_unique<test::ReferenceServer>(address, root, extra, options.server);
    Require(server->Ready(std::chrono::seconds(60)), "the server did not listen: " + server->Log());
    return server;
}

UpdaterRun RunUpdater(Options const& options, fs::path const& directory,
                      std::map<std::string, std::optional<std::string>> environment,
                      std::function<void(test::Process&)> const& during,
                      std::string const& updater) {
    fs::path const report = directory / ".peak-kib";
    test::Process run(
        {.argv = {options.probe, report.string(), updater.empty() ? options.updater : updater},
         .directory = directory,
         .environment = std::move(environment)});
    if (during) {
        during(run);
    }
    auto const ending = run.WaitForExit(std::chrono::seconds(1800));
    Require(ending.has_value(), "the updater did not end in time");
    UpdaterRun result{ending->status, 0, run.TimedLines(), {}, {}};
    std::ifstream(report) >> result.peakKiB;
    return result;
}

UpdaterRun RunThroughLink(Options const& options, fs::path const& directory,
                          std::string const& server, LinkRun const& how) {
    FrameClock clock(how.keepSent);
    test::LinkEmulator const link({kLink, server, how.oneWay, 0, clock.Tap()});
    Require(link.listening(), "the link cannot listen on " + kLink);
    UpdaterRun run = RunUpdater(options, directory, {}, how.during, how.updater);
    run.times = clock.times();
    run.sent = clock.sent();
    return run;
}

std::string Failed(std::string const& what, UpdaterRun const& run) {
    return what + ": status " + std::to_string(run.status) +
           (run.lines.empty() ? "" : ", last line: " + run.lines.back().text);
}

double LineInterval(UpdaterRun const& run, std::string const& what, std::string_view from,
                    std::string_view to) {
    auto const start = std::find_if(run.lines.begin(), run.lines.end(),
                                    [&](auto const& line) { return line.text.starts_with(from); });
    auto const end = std::find_if(start, run.lines.end(),
                                  [&](auto const& line) { return line.text.starts_with(to); });
    Require(run.status == 0 && end != run.lines.end(), Failed(what, run));
    return Seconds(end->at - start->at);
}

Sink::Sink(fs::path const& file) {
    if (!file.empty()) {
        fd_ = base::UniqueFd(::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644));
        Require(fd_.valid(), "cannot create " + file.string());
        block_.reserve(kBlock);
    }
}

void Sink::Take(std::span<const std::uint8_t> bytes) {
    if (fd_.valid()) {
        block_.insert(block_.end(), bytes.begin(), bytes.end());
        if (block_.size() >= kBlock) {
            Flush();
        }
    }
}

test::Clock::time_point Sink::Finish(test::Clock::time_point received) {
    if (!fd_.valid()) {
        return received;
    }
    Flush();
    Require(::fsync(fd_.get()) == 0, "fsync failed");
    return test::Clock::now();
}

void Sink::Flush() {
    Require(::write(fd_.get(), block_.data(), block_.size()) == static_cast<ssize_t>(block_.size()),
            "write failed");
    block_.clear();
}

Figure StreamThroughLink(std::chrono::microseconds oneWay, std::uint64_t size) {
    int const listener = test::ListenOn(kStream, 16);
    Require(listener >= 0, "cannot listen on " + kStream);
    std::thread source([&] {
        int const peer = ::accept(listener, nullptr, nullptr);
        std::vector<std::uint8_t> const block(1 << 16, 0x5A);
        for (std::uint64_t sent = 0; peer >= 0 && sent < size && test::SendAll(peer, block);) {
            sent += block.size();
        }
        ::close(peer);
    });
    test::LinkEmulator const link({kLink, kStream, oneWay});
    int const sink = test::ConnectTo(kLink);
    auto const startedAt = test::Clock::now();
    std::vector<std::uint8_t> buffer(1 << 16);
    std::uint64_t received = 0;
    for (ssize_t count = 1; sink >= 0 && count > 0; received += count > 0 ? count : 0) {
        count = ::recv(sink, buffer.data(), buffer.size(), 0);
    }
    double const took = Seconds(test::Clock::now() - startedAt);
    ::close(sink);
    ::shutdown(listener, SHUT_RDWR);
    source.join();
    ::close(listener);
    return received >= size ? Figure(static_cast<double>(received) / took) : std::nullopt;
}

}  // namespace qm::bench
