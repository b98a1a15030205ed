// The long runs, kept out of the regular test run: a thousand update runs one after another
// (each waits a second before it connects, so this takes about twenty minutes), twenty waves of
// fifty updaters at once, and the whole crash sweep of a run with APPLY=run: a kill at every step
// of its commit and at 60 random steps of its downloads, and a power cut before every step of the
// run, each followed by a run without a server. Run with `ctest -C soak -L soak` or
// build-dir/tests/test_soak.
#include <gtest/gtest.h>

#include "faults/crash_sweep.h"
#include "faults/load_runs.h"
#include "support/addresses.h"

namespace qm::test {
namespace {

TEST(Soak, AThousandConsecutiveRuns) {
    RunConsecutively(LoopbackAddress(TestAddress::SoakConsecutive), 1000);
}

TEST(Soak, TwentyWavesOfFiftyAtOnce) {
    RunManyAtOnce(LoopbackAddress(TestAddress::SoakManyAtOnce), 50, 20);
}

TEST(Soak, AKillAtEveryStepOfTheCommit) {
    CrashSweep sweep({LoopbackAddress(TestAddress::SoakCrashKillOld),
                      LoopbackAddress(TestAddress::SoakCrashKillNew),
                      LoopbackAddress(TestAddress::SoakCrashKillUnreachable)});
    for (std::string const& step : sweep.CommitStepLines()) {
        std::cout << "[ COMMIT   ] " << step << "\n";
    }
    ExpectWhollyOldOrNew(sweep.Kill(
        {.commitStride = 1, .downloadPoints = 60, .lanes = 3, .completeAfterwards = true}));
}

TEST(Soak, APowerCutBeforeEveryStep) {
    CrashSweep sweep({LoopbackAddress(TestAddress::SoakCrashCutOld),
                      LoopbackAddress(TestAddress::SoakCrashCutNew),
                      LoopbackAddress(TestAddress::SoakCrashCutUnreachable)});
    ExpectWhollyOldOrNew(sweep.Cut({.commitStride = 1,
                                    .downloadPoints = sweep.downloadSteps(),
                                    .lanes = 8,
                                    .randomDraws = 2}));
}

}  // namespace
}  // namespace qm::test
