// Pipelined chunk requests change nothing but the pace: a whole release fetched from the reference
// server with a large WINDOW gives the same files and the same crc.ini as stop-and-wait.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>

#include "support/addresses.h"
#include "support/lines.h"
#include "support/process.h"
#include "support/profile_text.h"
#include "support/reference_server.h"
#include "support/release.h"
#include "support/temp_dir.h"
#include "support/tree_snapshot.h"

namespace qm::test {
namespace {

namespace fs = std::filesystem;

TEST(PipelinedRequests, AnyWindowGivesTheSameFilesAndRecordAsStopAndWait) {
    TempDir scratch;
    std::vector<TreeFile> const tree = HundredFileTree();
    WriteTree(scratch.path() / "release", tree);
    std::string const address = LoopbackAddress(TestAddress::WindowedRelease);
    ReferenceServer server(address, scratch.path() / "release");
    ASSERT_TRUE(server.Ready()) << server.Log();

    std::vector<std::string> missing;  // an empty file has the checksum of a missing one
    for (TreeFile const& file : tree) {
        if (file.size == 0) {
            missing.push_back("missing " + file.path);
        }
    }
    std::sort(missing.begin(), missing.end());
    std::optional<TreeSnapshot> stopAndWait;
    for (char const* window : {"1", "64", "256"}) {
        SCOPED_TRACE(std::string("WINDOW=") + window);
        fs::path const client = scratch.path() / (std::string("client-") + window);
        WriteUpdaterConfig(client, address);
        AddUpdaterSettings(client, std::string("WINDOW=") + window + "\n");
        Process updater(UpdaterOptions(client));
        EXPECT_EQ(updater.ExitStatus(Millis(90000)), kExitClean) << updater.Transcript();
        std::vector<std::string> differences =
            ReleaseDifferences(scratch.path() / "release", client, {"upd.ini", "crc.ini"});
        std::sort(differences.begin(), differences.end());
        EXPECT_EQ(differences, missing);
        TreeSnapshot const fetched = SnapshotTree(client, {.skipped = {"upd.ini"}});
        EXPECT_TRUE(fetched.contains("crc.ini"));
        if (stopAndWait) {
            EXPECT_EQ(DescribeDifference(*stopAndWait, fetched), "");
        } else {
            stopAndWait = fetched;
        }
    }
}

}  // namespace
}  // namespace qm::test
