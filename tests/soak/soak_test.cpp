// The long load runs, kept out of the regular test run: a thousand update runs one after another
// (each waits a second before it connects, so this takes about twenty minutes) and twenty waves of
// fifty updaters at once. Run with `ctest -C soak -L soak` or build-dir/tests/test_soak.
#include <gtest/gtest.h>

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

}  // namespace
}  // namespace qm::test
