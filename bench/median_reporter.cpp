#include "median_reporter.h"

namespace qm::bench {
namespace {

double SecondsPerUnit(benchmark::TimeUnit unit) {
    switch (unit) {
        case benchmark::kNanosecond:
            return 1e-9;
        case benchmark::kMicrosecond:
            return 1e-6;
        case benchmark::kMillisecond:
            return 1e-3;
        case benchmark::kSecond:
            return 1.0;
    }
    return 1.0;
}

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
        if (auto const rate = run.counters.find("bytes_per_second"); rate != run.counters.end()) {
            median.bytesPerSecond = rate->second.value;
        }
        median.seconds = run.GetAdjustedRealTime() * SecondsPerUnit(run.time_unit);
        for (auto const& [counter, value] : run.counters) {
            median.counters[counter] = value.value;
        }
        medians_[RegisteredName(run)] = median;
    }
    ConsoleReporter::ReportRuns(reports);
}

std::optional<double> MedianReporter::BytesPerSecond(std::string const& name) const {
    auto const found = medians_.find(name);
    if (found == medians_.end() || found->second.bytesPerSecond <= 0) {
        return std::nullopt;
    }
    return found->second.bytesPerSecond;
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
