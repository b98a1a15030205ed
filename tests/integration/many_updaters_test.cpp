// Twenty updaters at once against one server.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "support/addresses.h"
#include "support/process.h"
#include "support/profile_text.h"
#include "support/reference_server.h"
#include "support/release.h"
#include "support/temp_dir.h"
#include "support/wire.h"

namespace qm::test {
namespace {

namespace fs = std::filesystem;

constexpr int kUpdaters = 20;

// Lines of `log` that contain `start` and end with `end`.
std::size_t LinesOf(std::string const& log, std::string const& start, std::string const& end) {
    std::istringstream in(log);
    std::size_t count = 0;
    for (std::string line; std::getline(in, line);) {
        count += line.find(start) != std::string::npos && line.ends_with(end) ? 1 : 0;
    }
    return count;
}

TEST(ManyUpdaters, TwentyAtOnceAllEndIdentical) {
    TempDir dir;
    fs::path const release = dir.path() / "release";
    WriteTree(release, SmallTree());
    ReferenceServer server(LoopbackAddress(TestAddress::ManyUpdaters), release);
    ASSERT_TRUE(server.Ready()) << server.Log();

    std::vector<std::unique_ptr<Process>> updaters;
    for (int i = 0; i < kUpdaters; ++i) {
        fs::path const client = dir.path() / ("client" + std::to_string(i));
        WriteUpdaterConfig(client, LoopbackAddress(TestAddress::ManyUpdaters));
        // Half of them start with an outdated copy of some of the files.
        if (i % 2 == 1) {
            for (TreeFile const& file : SmallTree()) {
                if (file.path.starts_with("gfx/")) {
                    WriteTreeFile(client, file, 3);
                }
            }
        }
        updaters.push_back(std::make_unique<Process>(UpdaterOptions(client)));
    }
    auto const deadline = std::chrono::steady_clock::now() + std::chrono::seconds(90);
    for (int i = 0; i < kUpdaters; ++i) {
        SCOPED_TRACE(i);
        auto const left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        EXPECT_EQ(updaters[i]->ExitStatus(std::max(left, std::chrono::milliseconds(0))), 0);
    }
    for (int i = 0; i < kUpdaters; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(ReleaseDifferences(release, dir.path() / ("client" + std::to_string(i)),
                                     {"upd.ini", "crc.ini"}),
                  std::vector<std::string>{});
    }
    std::string const log = server.Log();
    EXPECT_EQ(Occurrences(log, ": connected"), std::size_t{kUpdaters});
    EXPECT_EQ(Occurrences(log, "all lists done"), std::size_t{kUpdaters});
    // Every connection got an id of its own, and every one finished its run.
    for (int i = 0; i < kUpdaters; ++i) {
        std::string const client = "client " + std::to_string(256 + i) + " (";
        EXPECT_EQ(LinesOf(log, client, "): connected"), 1u) << client;
        EXPECT_EQ(LinesOf(log, client, "): all lists done"), 1u) << client;
    }
}

}  // namespace
}  // namespace qm::test
