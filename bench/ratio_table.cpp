#include "ratio_table.h"

#include <cstdio>

namespace qm::bench {
namespace {

std::string Number(std::optional<double> value, double scale, std::string const& unit) {
    if (!value) {
        return "(missing)";
    }
    double const shown = *value / scale;
    char text[64];
    std::snprintf(text, sizeof text, shown >= 1000 ? "%.0f" : "%.3g", shown);
    return unit.empty() ? std::string(text) : std::string(text) + " " + unit;
}

}  // namespace

void RatioTable::Add(std::string what, std::optional<double> figure, std::string limitName,
                     std::optional<double> limit, std::string unit, double scale, Goal goal,
                     double target) {
    rows_.push_back(Row{std::move(what), figure, std::move(limitName), limit, std::move(unit),
                        scale, goal, target});
}

bool RatioTable::Print() const {
    if (rows_.empty()) {
        return true;  // none of its scenarios ran
    }
    bool allMet = true;
    std::printf("\n### %s\n\n", title_.c_str());
    std::printf("| Figure | Measured | Limit | Limit measured | Ratio | Target | Met |\n");
    std::printf("|---|---|---|---|---|---|---|\n");
    for (Row const& row : rows_) {
        std::string ratio = "-";
        bool met = false;
        if (row.figure && row.limit && *row.limit > 0) {
            double const value = *row.figure / *row.limit;
            char text[32];
            std::snprintf(text, sizeof text, "%.3f", value);
            ratio = text;
            met = row.goal == Goal::AtLeast  ? value >= row.target
                  : row.goal == Goal::AtMost ? value <= row.target
                                             : true;
        }
        allMet = allMet && met;
        std::string target = "-";
        if (row.goal != Goal::Informational) {
            char text[32];
            std::snprintf(text, sizeof text, "%s %.2f",
                          row.goal == Goal::AtLeast ? ">=" : "<=", row.target);
            target = text;
        }
        std::printf("| %s | %s | %s | %s | %s | %s | %s |\n", row.what.c_str(),
                    Number(row.figure, row.scale, row.unit).c_str(), row.limitName.c_str(),
                    Number(row.limit, row.scale, row.unit).c_str(), ratio.c_str(), target.c_str(),
                    row.goal == Goal::Informational ? "-"
                    : met                           ? "yes"
                                                    : "NO");
    }
    std::fflush(stdout);
    return allMet;
}

}  // namespace qm::bench
