// Kills and power cuts at the steps of a whole run with APPLY=run, found from outside the program.
//
// The run: 200 files in three lists and 20 deletions (TwoHundredFileRelease) from the reference
// server, in a client directory that a complete run against the old release left wholly old.
// One clean run is traced with strace; its steps are the calls that change the client directory
// or flush part of it, and the commit's steps are those after the updater's last send (the
// completion arrives then). So the sweep follows the program as it changes.
//
// A kill point is one step: the run is started again under strace, which kills it (SIGKILL) as
// it enters that call. A cut point is the moment before a step, where the clean run's file
// operations are replayed on a model of the disk that loses what was not flushed
// (support/power_cut.h), and what the disk keeps is written into a fresh directory. After each,
// the updater runs with the server unreachable (it must complete a journal before it connects),
// and the tree is compared with both versions: its files (all but the updater's own hidden ones)
// and the list records of crc.ini are wholly old or wholly new, or it is mixed.
#pragma once

#include <cstddef>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace qm::test {

struct CrashSweepAddresses {
    std::string oldServer;    // serves the old release while the starting tree is made
    std::string newServer;    // serves the new release to the runs that are killed
    std::string unreachable;  // where nothing listens
};

// One line of a sweep's table.
struct SweepRow {
    std::string what;
    int points = 0;
    int old = 0;
    int fresh = 0;  // wholly new
    int mixed = 0;
    int missed = 0;                     // kills that did not land where they were aimed
    std::vector<std::string> faults{};  // what was mixed, or what else went wrong, point by point
};

// Which points a sweep takes.
struct SweepChoice {
    std::size_t commitStride = 1;    // every step of the commit (2: every second one, ...)
    std::size_t downloadPoints = 0;  // steps before the completion, drawn at random
    unsigned seed = 2828;
    int lanes = 3;  // points at work at once
    // Kills only: after the run with the server unreachable, a run with it that must complete
    // the update and leave no file of the updater's own behind.
    bool completeAfterwards = false;
    // Cuts only: for every cut, also this many draws of random tails besides losing everything
    // unflushed and losing nothing.
    int randomDraws = 1;
};

class CrashSweep {
  public:
    // Writes both releases, makes the starting tree and traces one clean run (a few seconds);
    // throws std::runtime_error when that fails.
    explicit CrashSweep(CrashSweepAddresses addresses);
    ~CrashSweep();
    CrashSweep(CrashSweep const&) = delete;
    CrashSweep& operator=(CrashSweep const&) = delete;

    std::size_t commitSteps() const;
    std::size_t downloadSteps() const;

    // One row for the commit's kill points, one for the downloads'.
    std::vector<SweepRow> Kill(SweepChoice const& choice);
    // One row for each loss (all unflushed lost, nothing lost, random tails), for the commit's
    // cut points and the downloads'.
    std::vector<SweepRow> Cut(SweepChoice const& choice);

    // The steps of the commit, one line each ("rename data/.quillmesh-staged-x -> data/x").
    std::vector<std::string> CommitStepLines() const;

  private:
    struct State;
    std::unique_ptr<State> state_;
};

// The rows as a Markdown table (for the test's output and docs/robustness.md).
std::string SweepTable(std::vector<SweepRow> const& rows);

// Prints the table and fails the test for every point that was mixed, missed or went wrong.
void ExpectWhollyOldOrNew(std::vector<SweepRow> const& rows);

}  // namespace qm::test
