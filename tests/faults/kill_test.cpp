// The updater killed with SIGKILL at random moments of downloads that replace existing files,
// through the reference server. After every kill each file is byte for byte its old or its new
// version, crc.ini is well-formed and records no list whose files are not all in place, and the
// next run completes the update and removes the temporary files the killed run left behind.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "faults/served_run.h"
#include "support/addresses.h"
#include "support/conversation.h"
#include "support/crc32.h"
#include "support/process.h"
#include "support/profile_text.h"
#include "support/reference_server.h"
#include "support/release.h"
#include "support/scripted_server.h"
#include "support/temp_dir.h"
#include "support/tree_snapshot.h"

namespace qm::test {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

constexpr int kLanes = 5;
constexpr int kKillsPerLane = 10;  // 50 kills in all
constexpr unsigned kSeed = 424242;

// Temporary files anywhere below the client directory (download leftovers and half-written
// checksum records alike).
Lines LeftoverFiles(fs::path const& client) {
    Lines found;
    for (auto const& entry : fs::recursive_directory_iterator(client)) {
        std::string const name = entry.path().filename().string();
        if (name.starts_with(".quillmesh-download-") || name.starts_with(".quillmesh-partial-") ||
            name.starts_with(".crc.ini.")) {
            found.push_back(fs::relative(entry.path(), client).string());
        }
    }
    return found;
}

struct Reference {
    Lines lines;                        // of a whole run from the outdated state
    std::size_t firstDownloadLine = 0;  // 1-based
    std::size_t lastDownloadLine = 0;
    std::map<std::string, std::string> checksums;  // crc.ini after a whole run
};

// What a killed run may have left: every file its old or new version, the obsolete files there
// or gone, a well-formed crc.ini that records a list only once all of that list is done.
void CheckAfterKill(Release const& release, Reference const& reference, fs::path const& client,
                    std::string const& context) {
    std::map<std::string, bool> listDone;
    for (ReleaseFile const& file : release.files) {
        std::optional<std::string> const content = ReadIfPresent(client / file.path);
        bool const isNew = content && *content == file.newContent;
        bool const isOld = file.oldContent.empty() ? !content : content == file.oldContent;
        EXPECT_TRUE(isNew || isOld) << file.path << " is neither its old nor its new version ("
                                    << (content ? content->size() : 0) << " bytes)\n"
                                    << context;
        std::string const list = Release::ListOf(file.path);
        listDone.try_emplace(list, true);
        listDone[list] = listDone[list] && isNew;
    }
    for (std::string const& path : release.obsolete) {
        bool const gone = !fs::exists(fs::symlink_status(client / path));
        std::string const list = Release::ListOf(path);
        listDone[list] = listDone[list] && gone;
        if (!gone) {
            EXPECT_EQ(ReadIfPresent(client / path), "an obsolete file: " + path + "\n") << context;
        }
    }
    std::optional<std::string> const record = ReadIfPresent(client / "crc.ini");
    if (!record) {
        return;
    }
    auto const entries = ParseChecksumRecord(*record);
    ASSERT_TRUE(entries) << "crc.ini is not well-formed:\n" << *record << "\n" << context;
    for (auto const& [list, value] : *entries) {
        auto const served = reference.checksums.find(list);
        ASSERT_NE(served, reference.checksums.end()) << "crc.ini records " << list << "\n"
                                                     << context;
        if (value == served->second) {
            EXPECT_TRUE(listDone[list])
                << "crc.ini records " << list << " as current, but not all of its files are\n"
                << context;
        }
    }
}

Reference RunReference(Release const& release, std::string const& address) {
    Reference reference;
    ClientDir dir;
    WriteUpdaterConfig(dir.path(), address);
    release.MakeOutdated(dir.path());
    Process updater(UpdaterOptions(dir.path()));
    std::optional<Ending> const ending = updater.WaitForExit(Millis(60000));
    EXPECT_TRUE(ending && ending->status == 0) << updater.Transcript();
    EXPECT_EQ(release.Differences(dir.path()), Lines{});
    reference.lines = updater.Lines();
    for (std::size_t i = 0; i < reference.lines.size(); ++i) {
        std::string const& line = reference.lines[i];
        if (line.starts_with("status: file:") && reference.firstDownloadLine == 0) {
            reference.firstDownloadLine = i + 1;
        }
        if (line.starts_with("transfer: ") || line.starts_with("progress: ")) {
            reference.lastDownloadLine = i + 1;
        }
    }
    if (auto record = ReadIfPresent(dir.path() / "crc.ini")) {
        if (auto entries = ParseChecksumRecord(*record)) {
            reference.checksums = *entries;
        }
    }
    return reference;
}

struct LaneReport {
    int kills = 0;          // runs that the kill ended
    int finishedFirst = 0;  // runs that had ended before the kill arrived
    int leftovers = 0;      // temporary files found after kills
};

void RunLane(int lane, Release const& release, Reference const& reference,
             std::string const& address, LaneReport& report) {
    std::mt19937 random(kSeed + static_cast<unsigned>(lane));
    std::uniform_int_distribution<std::size_t> line(reference.firstDownloadLine,
                                                    reference.lastDownloadLine);
    std::uniform_int_distribution<int> micros(0, 400);
    ClientDir dir;
    WriteUpdaterConfig(dir.path(), address);
    for (int kill = 0; kill < kKillsPerLane; ++kill) {
        std::size_t const after = line(random);
        int const delay = micros(random);
        std::string const context = "lane " + std::to_string(lane) + ", kill " +
                                    std::to_string(kill) + ", after line " + std::to_string(after) +
                                    " and " + std::to_string(delay) + " us";
        SCOPED_TRACE(context);
        release.MakeOutdated(dir.path());
        {
            Process updater(UpdaterOptions(dir.path()));
            EXPECT_TRUE(updater.WaitForLineCount(after, Millis(30000))) << updater.Transcript();
            std::this_thread::sleep_for(std::chrono::microseconds(delay));
            updater.Signal(SIGKILL);
            std::optional<Ending> const ending = updater.WaitForExit();
            ASSERT_TRUE(ending);
            if (ending->status == 128 + SIGKILL) {
                ++report.kills;
            } else {
                EXPECT_EQ(ending->status, 0) << updater.Transcript();
                ++report.finishedFirst;
            }
            CheckAfterKill(release, reference, dir.path(), updater.Transcript());
        }
        report.leftovers += static_cast<int>(LeftoverFiles(dir.path()).size());
        // The next run completes the update and cleans up after the killed one.
        Process next(UpdaterOptions(dir.path()));
        EXPECT_EQ(next.ExitStatus(Millis(60000)), 0) << next.Transcript();
        EXPECT_EQ(release.Differences(dir.path()), Lines{}) << next.Transcript();
        EXPECT_EQ(LeftoverFiles(dir.path()), Lines{}) << next.Transcript();
        auto const record = ParseChecksumRecord(ReadIfPresent(dir.path() / "crc.ini").value_or(""));
        ASSERT_TRUE(record);
        EXPECT_EQ(*record, reference.checksums);
    }
}

TEST(KilledRun, FiftyKillsMidDownloadLeaveOldOrNewFilesAndTheNextRunCompletes) {
    if (!std::filesystem::exists(ReferenceServer::ServerBinary())) {
        GTEST_SKIP() << "the reference server is not built";
    }
    ClientDir work;  // its root holds the release and the server's log
    Release const release = MixedRelease();
    fs::path const served = work.root() / "release";
    release.WriteServed(served, work.root() / "deletions.txt");
    std::string const address = LoopbackAddress(TestAddress::KilledDownloads);
    ReferenceServer server(address, served, {"--delete", (work.root() / "deletions.txt").string()});
    ASSERT_TRUE(server.Ready()) << server.Log();
    Reference const reference = RunReference(release, address);
    ASSERT_GT(reference.lastDownloadLine, reference.firstDownloadLine);
    ASSERT_EQ(reference.checksums.size(), 3u);

    std::vector<LaneReport> reports(kLanes);
    std::vector<std::thread> lanes;
    for (int lane = 0; lane < kLanes; ++lane) {
        lanes.emplace_back(RunLane, lane, std::cref(release), std::cref(reference),
                           std::cref(address), std::ref(reports[static_cast<std::size_t>(lane)]));
    }
    for (std::thread& lane : lanes) {
        lane.join();
    }
    LaneReport total;
    for (LaneReport const& report : reports) {
        total.kills += report.kills;
        total.finishedFirst += report.finishedFirst;
        total.leftovers += report.leftovers;
    }
    std::cout << "[ KILLS    ] " << total.kills << " runs killed, " << total.finishedFirst
              << " ended before the kill, " << total.leftovers
              << " temporary files left by killed runs\n";
    // The moments lie inside the downloads, so nearly every kill must hit a running updater.
    EXPECT_GE(total.kills, kLanes * kKillsPerLane - 5);
}

// What a kill leaves when it lands while crc.ini is being rewritten, or while a chunk is being
// written: the half-written temporary files, under the names the updater gives them. A run that
// rewrites crc.ini, and that checks a file in data/, must remove them.
TEST(KilledRun, TheNextRunRemovesTheTemporaryFilesOfAKilledOne) {
    std::string const address = LoopbackAddress(TestAddress::LeftoverRecordFile);
    ClientDir dir;
    WriteUpdaterConfig(dir.path(), address);
    dir.Write("crc.ini", "[GLOBAL_CRC]\nquillmesh.ini=1\n");
    dir.Write(".crc.ini.k7Qz2a", "[GLOBAL_CRC]\nquillmesh.in");
    dir.Write("data/file.bin", "current\n");
    dir.Write("data/.quillmesh-download-Xy12Ab", "half a download");
    ScriptedServer server(address);
    ServedRun const served{.steps = {Description(0, 1, "", "", 0),
                                     Description(1, 2, "data/file.bin", "files/data/file.bin",
                                                 ReferenceCrc32(ToBytes("current\n"))),
                                     Description(2, 3, "next.ini", "", 99)}};
    Process updater(UpdaterOptions(dir.path()));
    EXPECT_TRUE(served.Serve(server)) << updater.Transcript();
    EXPECT_EQ(updater.ExitStatus(), 0) << updater.Transcript();
    EXPECT_EQ(dir.Read("crc.ini"), "[GLOBAL_CRC]\nquillmesh.ini=99\n");
    EXPECT_EQ(LeftoverFiles(dir.path()), Lines{});
}

}  // namespace
}  // namespace qm::test
