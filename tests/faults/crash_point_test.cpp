// Kills and power cuts at the steps of a whole run with APPLY=run (faults/crash_sweep.h), in the
// short form of every test run: ten to a dozen steps of the commit spread over all of them, and a
// few random steps of the downloads. After each, a run without a server must leave the client
// directory wholly old or wholly new, crc.ini agreeing. The whole sweep, every step, is in
// tests/soak.
#include <gtest/gtest.h>

#include <filesystem>

#include "faults/crash_sweep.h"
#include "support/addresses.h"
#include "support/reference_server.h"

namespace qm::test {
namespace {

// Points of the commit, spread over all of its steps (the kills cost a whole run each, and one
// more that completes the update).
constexpr std::size_t kCommitKills = 10;
constexpr std::size_t kCommitCuts = 12;

bool ToolsThere() {
    return std::filesystem::exists("/usr/bin/strace") &&
           std::filesystem::exists(ReferenceServer::ServerBinary());
}

TEST(CrashPoints, KillsAtStepsOfTheCommitAndOfTheDownloadsLeaveOldOrNew) {
    ASSERT_TRUE(ToolsThere()) << "strace (scripts/setup) and the reference server are needed";
    CrashSweep sweep({LoopbackAddress(TestAddress::CrashKillOld),
                      LoopbackAddress(TestAddress::CrashKillNew),
                      LoopbackAddress(TestAddress::CrashKillUnreachable)});
    ASSERT_GT(sweep.commitSteps(), kCommitKills);
    std::vector<SweepRow> const rows =
        sweep.Kill({.commitStride = sweep.commitSteps() / kCommitKills,
                    .downloadPoints = 3,
                    .lanes = 3,
                    .completeAfterwards = true});
    ExpectWhollyOldOrNew(rows);
    // The kills before the journal is durable leave the old version, those after it the new one.
    EXPECT_GT(rows[0].old, 0);
    EXPECT_GT(rows[0].fresh, 0);
    EXPECT_EQ(rows[1].old, rows[1].points);
}

TEST(CrashPoints, PowerCutsBeforeStepsOfTheCommitAndOfTheDownloadsLeaveOldOrNew) {
    ASSERT_TRUE(ToolsThere()) << "strace (scripts/setup) and the reference server are needed";
    CrashSweep sweep({LoopbackAddress(TestAddress::CrashCutOld),
                      LoopbackAddress(TestAddress::CrashCutNew),
                      LoopbackAddress(TestAddress::CrashCutUnreachable)});
    std::vector<SweepRow> const rows = sweep.Cut(
        {.commitStride = sweep.commitSteps() / kCommitCuts, .downloadPoints = 6, .lanes = 6});
    ExpectWhollyOldOrNew(rows);
    EXPECT_GT(rows[0].old, 0);
    EXPECT_GT(rows[0].fresh, 0);
}

}  // namespace
}  // namespace qm::test
