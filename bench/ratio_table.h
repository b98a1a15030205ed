// The closing table of a benchmark program: each figure beside the limit it is measured against
// in the same run, their ratio and the target, as Markdown rows for docs/performance.md.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace qm::bench {

class RatioTable {
  public:
    enum class Goal { AtLeast, AtMost, Informational };

    explicit RatioTable(std::string title) : title_(std::move(title)) {}

    // `figure` and `limit` are shown with `unit` (the figures are divided by `scale` first); the
    // ratio is figure / limit. A row with a missing figure shows what is missing.
    void Add(std::string what, std::optional<double> figure, std::string limitName,
             std::optional<double> limit, std::string unit, double scale, Goal goal, double target);

    // Prints the table to standard output (nothing when it has no rows); true when every row met
    // its target.
    bool Print() const;

  private:
    struct Row {
        std::string what;
        std::optional<double> figure;
        std::string limitName;
        std::optional<double> limit;
        std::string unit;
        double scale;
        Goal goal;
        double target;
    };
    std::string title_;
    std::vector<Row> rows_;
};

}  // namespace qm::bench
