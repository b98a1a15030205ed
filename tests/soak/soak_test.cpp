// The long load runs, kept out of the regular test run: a thousand update runs one after another
// (each waits a second before it connects, so this takes about twenty minutes) and twenty waves of
// fifty updaters at once. Run with `ctest -C soak -L soak` or build-dir/tests/test_soak.
#include <gtest/gtest.h>

#include "faults/fault_addresses.h"
#include "faults/load_runs.h"

namespace qm::faults {
namespace {

TEST(Soak, AThousandConsecutiveRuns) {
    RunConsecutively(Address(FaultAddress::SoakConsecutive), 1000);
}

TEST(Soak, TwentyWavesOfFiftyAtOnce) {
    RunManyAtOnce(Address(FaultAddress::SoakManyAtOnce), 50, 20);
}

}  // namespace
}  // namespace qm::faults
