// Load on the reference server within the regular test run: consecutive runs and fifty updaters at
// once. The thousand-run soak is the separate program test_soak (tests/soak).
#include <gtest/gtest.h>

#include "faults/load_runs.h"
#include "support/addresses.h"
#include "support/reference_server.h"

namespace qm::test {
namespace {

TEST(Load, TwentyConsecutiveRunsLeaveTheServerAsItWas) {
    if (!std::filesystem::exists(ReferenceServer::ServerBinary())) {
        GTEST_SKIP() << "the reference server is not built";
    }
    RunConsecutively(LoopbackAddress(TestAddress::ConsecutiveRuns), 20);
}

TEST(Load, FiftyUpdatersAtOnceTwiceLeaveTheServerAsItWas) {
    if (!std::filesystem::exists(ReferenceServer::ServerBinary())) {
        GTEST_SKIP() << "the reference server is not built";
    }
    RunManyAtOnce(LoopbackAddress(TestAddress::ManyAtOnce), 50, 2);
}

}  // namespace
}  // namespace qm::test
