// What the scenarios of shipped_bench share: its options, the installed programs run in fresh
// processes (the updater through the peak memory probe, optionally through a link emulator whose
// tap times the frames), client and release directories, the reference server, pairs of a figure
// and its limit, and the limits that are not the updater: a raw TCP stream through the link, and
// the file a minimal client keeps.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/unix/unique_fd.h"
#include "frame_clock.h"
#include "ratio_table.h"
#include "support/addresses.h"
#include "support/process.h"
#include "support/reference_server.h"

namespace qm::bench {

namespace fs = std::filesystem;
using Figure = std::optional<double>;
using Goal = RatioTable::Goal;

inline constexpr std::uint64_t kMiB = std::uint64_t{1} << 20;
inline std::string const kServer = test::LoopbackAddress(test::TestAddress::BenchServer);
inline std::string const kOldPathServer =
    test::LoopbackAddress(test::TestAddress::BenchOldPathServer);
inline std::string const kLink = test::LoopbackAddress(test::TestAddress::BenchLink);
inline std::string const kStream = test::LoopbackAddress(test::TestAddress::BenchStream);
// The reference server's option that makes it announce nothing new: the old walk.
inline std::string const kNoFastPath = "--no-fast-path";

struct Options {
    std::string updater;
    std::string server;
    std::string probe;
    std::string minimalProgram;
    std::string startStamp;       // the client program that notes when it started
    std::string previousUpdater;  // an earlier build's installed updater, for the comparison
    int repetitions = 5;
    std::string scenarios =
        "checksum,download,memory,startup,links,resume,stall,tls,dropped,commit,lists,streams,"
        "previous";
    bool Wants(std::string const& name) const {
        return ("," + scenarios + ",").find("," + name + ",") != std::string::npos;
    }
};

double Seconds(test::Clock::duration duration);
Figure Median(std::vector<double> values);
Figure Between(FrameClock::Time from, FrameClock::Time to);

// A figure and its limit from neighbouring runs, pair by pair; the table gets the medians and the
// median of the pairs' ratios.
struct Pairs {
    std::vector<double> measured, limit, ratios;
    // Records one pair; returns its ratio, for the run's report line.
    double Add(double figure, double bound, double ratio);
    void Rows(RatioTable& table, std::string const& what, std::string const& limitName,
              std::string const& unit, double scale, Goal goal, double target) const;
};

// A line of the run's log, with the load average at the time.
void Report(char const* format, ...) __attribute__((format(printf, 1, 2)));

// upd.ini in `directory`, for `address` and the given extra lines.
void WriteSettings(fs::path const& directory, std::string const& address,
                   std::string const& extra = "");
// A client directory with upd.ini for `address` and the given extra lines; `keep` names a file
// that stays (the rest of the directory is emptied).
fs::path ClientDirectory(fs::path const& path, std::string const& address,
                         std::string const& extra = "", std::string const& keep = "");
// A release directory with one file of random bytes.
fs::path Release(fs::path const& root, std::string const& name, std::uint64_t size);

std::unique_ptr<test::ReferenceServer> StartServer(Options const& options, fs::path const& root,
                                                   std::string const& address,
                                                   std::vector<std::string> const& extra = {});

struct UpdaterRun {
    int status = -1;
    long peakKiB = 0;
    std::vector<test::TimedLine> lines;
    FrameClock::Times times;  // of its frames, when it ran through a link
    test::Bytes sent;         // what it sent, when asked for
};

// One run of `updater` in `directory` through the peak memory probe (bench/peak_rss_probe.cpp).
// `during` is called once it has started, `environment` adds to its own.
UpdaterRun RunUpdater(Options const& options, fs::path const& directory,
                      std::map<std::string, std::optional<std::string>> environment = {},
                      std::function<void(test::Process&)> const& during = {},
                      std::string const& updater = {});

// How a run through the link goes.
struct LinkRun {
    std::chrono::microseconds oneWay{0};
    std::function<void(test::Process&)> during{};
    bool keepSent = false;     // keep what the updater sent (UpdaterRun::sent)
    std::string updater = {};  // another build's updater instead of options.updater
};
// The updater's run through a fresh link to `server`, with the times of its frames.
UpdaterRun RunThroughLink(Options const& options, fs::path const& directory,
                          std::string const& server, LinkRun const& how = {});

// What a failed run said last, for the message of a scenario that cannot go on.
std::string Failed(std::string const& what, UpdaterRun const& run);

// The line that follows the arrival of the file's size (the first ChunkRequest went out just
// before), and the one that follows the Ack after the empty chunk (two short exchanges later).
inline constexpr std::string_view kSizeLine = "status: file:";
inline constexpr std::string_view kCompleteLine = "status: Operation complete...";

// From the updater's first line starting with `from` to the next one starting with `to`, in a run
// that succeeded; `what` names the run when it did not, or lacks the lines.
double LineInterval(UpdaterRun const& run, std::string const& what,
                    std::string_view from = kSizeLine, std::string_view to = kCompleteLine);

// Where a minimal client puts what it receives: nowhere, or every byte into a file, in 64 KiB
// writes (the caller makes them after its next request went out, if it has one), flushed to the
// disk before the clock stops: what keeping the data on this disk costs a program that does
// nothing else.
class Sink {
  public:
    explicit Sink(fs::path const& file);
    void Take(std::span<const std::uint8_t> bytes);
    // Writes what is left and waits for the disk: when that was done (`received` when nothing
    // is kept).
    test::Clock::time_point Finish(test::Clock::time_point received);

  private:
    static constexpr std::size_t kBlock = std::size_t{1} << 16;
    void Flush();
    base::UniqueFd fd_;
    std::vector<std::uint8_t> block_;
};

// Bytes per second of one TCP stream of `size` bytes through a link of this one-way delay, from
// the receiver's connect to its last byte; 64 KiB writes and reads, nothing else.
Figure StreamThroughLink(std::chrono::microseconds oneWay, std::uint64_t size);

}  // namespace qm::bench
