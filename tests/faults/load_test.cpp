// Load on the reference server within the regular test run: consecutive runs and fifty updaters at
// once. The thousand-run soak is the separate program test_soak (tests/soak).
#include <gtest/gtest.h>

#include "faults/fault_addresses.h"
#include "faults/load_runs.h"
#include "faults/reference_server.h"

namespace qm::faults {
namespace {

TEST(Load, TwentyConsecutiveRunsLeaveTheServerAsItWas) {
    if (ServerBinaryPath().empty()) {
        GTEST_SKIP() << "the reference server is not built";
    }
    RunConsecutively(Address(FaultAddress::ConsecutiveRuns), 20);
}

TEST(Load, FiftyUpdatersAtOnceTwiceLeaveTheServerAsItWas) {
    if (ServerBinaryPath().empty()) {
        GTEST_SKIP() << "the reference server is not built";
    }
    RunManyAtOnce(Address(FaultAddress::ManyAtOnce), 50, 2);
}

}  // namespace
}  // namespace qm::faults
