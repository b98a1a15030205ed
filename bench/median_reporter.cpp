#include "median_reporter.h"

namespace qm::bench {
namespace {

// "name/real_time" and similar suffixes of the run name are not part of the registered name.
std::string RegisteredName(benchmark::BenchmarkReporter::Run const& run) {
    return run.run_name.function_name + (run.run_name.args.empty() ? "" : "/" + run.run_name.args);
}

}  // namespace

void MedianReporter::ReportRuns(std::vector<Run> const& reports) {
    for (Run const& run : reports) {
        if (run.run_type != Run::RT_Aggregate || run.aggregate_name != "median") {
            continue;
        }
        Median median;
        median.seconds =
            run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
        for (auto const& [counter, value] : run.counters) {
            median.counters[counter] = value.value;
        }
        medians_[RegisteredName(run)] = median;
    }
    ConsoleReporter::ReportRuns(reports);
}

std::optional<double> MedianReporter::BytesPerSecond(std::string const& name) const {
    std::optional<double> const rate = Counter(name, "bytes_per_second");
    return rate && *rate > 0 ? rate : std::nullopt;
}

std::optional<double> MedianReporter::Seconds(std::string const& name) const {
    auto const found = medians_.find(name);
    if (found == medians_.end()) {
        return std::nullopt;
    }
    return found->second.seconds;
}

std::optional<double> MedianReporter::Counter(std::string const& name,
                                              std::string const& counter) const {
    auto const found = medians_.find(name);
    if (found == medians_.end()) {
        return std::nullopt;
    }
    auto const value = found->second.counters.find(counter);
    if (value == found->second.counters.end()) {
        return std::nullopt;
    }
    return value->second;
}

}  // namespace qm::bench
