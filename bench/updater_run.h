// One run of quillmesh-updater in plain mode in a client directory, with the time each line of
// its output arrived, its exit status and its peak resident memory.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "child_process.h"

namespace qm::bench {

struct UpdaterRun {
    using Clock = std::chrono::steady_clock;
    struct Line {
        Clock::time_point at;
        std::string text;
    };

    std::string problem;  // empty when the run ended by itself
    ChildProcess::Exit exit;
    Clock::time_point startedAt;
    Clock::time_point endedAt;
    std::vector<Line> lines;

    // When the first line that starts with `prefix` and contains `part` arrived.
    std::optional<Clock::time_point> FirstLine(std::string const& prefix,
                                               std::string const& part = "") const;
};

// Writes `directory`/upd.ini for `serverAddress` and runs the updater there, through
// `peakProbe` (bench/peak_rss_probe.cpp) so that exit.peakResidentKiB is the updater's own.
UpdaterRun RunUpdater(std::string const& program, std::string const& peakProbe,
                      std::string const& directory, std::string const& serverAddress,
                      std::chrono::seconds timeout);

}  // namespace qm::bench
