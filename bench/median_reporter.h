// Console output of Google Benchmark that also keeps the median of every benchmark, so that a
// program can relate its figures to each other at the end of the same run.
#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace qm::bench {

class MedianReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(std::vector<Run> const& reports) override;

    // Median bytes per second of the named benchmark (as registered), if it ran.
    std::optional<double> BytesPerSecond(std::string const& name) const;
    // Median wall time of one iteration in seconds.
    std::optional<double> Seconds(std::string const& name) const;
    // Median of a counter of the named benchmark (a user counter, or "bytes_per_second").
    std::optional<double> Counter(std::string const& name, std::string const& counter) const;

  private:
    struct Median {
        double seconds = 0;
        std::map<std::string, double> counters;
    };
    std::map<std::string, Median> medians_;
};

}  // namespace qm::bench
