// The updater and the server together, through the real binaries: whole runs against a release
// on disk, checked file by file.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>

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

std::set<std::string> const kUpdaterFiles = {"upd.ini", "crc.ini"};

// A release directory, a client directory and a server for them on `address`.
class UpdateRun {
  public:
    UpdateRun(std::string address, std::vector<TreeFile> tree,
              std::vector<std::string> serverArguments = {})
        : address_(std::move(address)), tree_(std::move(tree)) {
        WriteTree(release(), tree_);
        WriteUpdaterConfig(client(), address_);
        server_ = std::make_unique<ReferenceServer>(address_, release(), serverArguments);
    }

    fs::path release() const { return dir_.path() / "release"; }
    fs::path client() const { return dir_.path() / "client"; }
    fs::path work() const { return dir_.path(); }
    ReferenceServer& server() { return *server_; }
    std::vector<TreeFile> const& tree() const { return tree_; }

    // Runs the updater in the client directory until it ends (killed after 90 s), and keeps it
    // for the checks until the next run.
    Process& Run() {
        updater_.emplace(UpdaterOptions(client()));
        updater_->WaitForExit(Millis(90000));
        return *updater_;
    }

    // What the client lacks after a complete run: the empty files of the release, since an empty
    // file has the checksum of a missing one.
    std::vector<std::string> ExpectedDifferences() const {
        std::set<std::string> missing;
        for (TreeFile const& file : tree_) {
            if (file.size == 0) {
                missing.insert("missing " + file.path);
            }
        }
        return {missing.begin(), missing.end()};
    }

  private:
    TempDir dir_;
    std::string address_;
    std::vector<TreeFile> tree_;
    std::unique_ptr<ReferenceServer> server_;
    std::optional<Process> updater_;
};

std::size_t NonEmptyCount(std::vector<TreeFile> const& tree) {
    std::size_t count = 0;
    for (TreeFile const& file : tree) {
        count += file.size > 0 ? 1 : 0;
    }
    return count;
}

// A run that ended well and left the client holding the release.
void ExpectCompleteRun(UpdateRun const& run, Process& result) {
    EXPECT_EQ(result.ExitStatus(), 0) << result.Transcript();
    std::vector<std::string> differences =
        ReleaseDifferences(run.release(), run.client(), kUpdaterFiles);
    std::sort(differences.begin(), differences.end());
    EXPECT_EQ(differences, run.ExpectedDifferences());
}

// One run from an empty client directory, and what the server's log says of it.
void BringEmptyClientToRelease(bool fastPath) {
    std::vector<std::string> const arguments =
        fastPath ? std::vector<std::string>{} : std::vector<std::string>{"--no-fast-path"};
    UpdateRun run(LoopbackAddress(TestAddress::HundredFiles), HundredFileTree(), arguments);
    ASSERT_TRUE(run.server().Ready()) << run.server().Log();

    Process& result = run.Run();
    ExpectCompleteRun(run, result);
    EXPECT_EQ(result.LinesStartingWith("status: file:").size(), NonEmptyCount(run.tree()));
    std::string const log = run.server().Log();
    EXPECT_EQ(Occurrences(log, ": sent "), NonEmptyCount(run.tree()));
    EXPECT_EQ(Occurrences(log, ") as a stream"), fastPath ? NonEmptyCount(run.tree()) : 0);
    // One list per top-level directory, all walked and recorded.
    for (char const* list : {"quillmesh.ini", "data.ini", "docs.ini", "gfx.ini", "sound.ini"}) {
        EXPECT_NE(log.find(std::string("list ") + list + " walked"), std::string::npos) << list;
    }
    EXPECT_EQ(Occurrences(log, " walked ("), 5u);
    EXPECT_EQ(Occurrences(log, ") by entries"), fastPath ? 5u : 0u);
}

// The same release with the fast path (lists by entries, files as streams) and without it
// (--no-fast-path: the walk of old, file by file).
TEST(UpdaterWithServer, BringsAnEmptyClientToTheRelease) {
    for (bool const fastPath : {true, false}) {
        SCOPED_TRACE(fastPath ? "fast path" : "no fast path");
        BringEmptyClientToRelease(fastPath);
    }
}

TEST(UpdaterWithServer, SecondRunSkipsEveryListThroughTheRecordedChecksums) {
    UpdateRun run(LoopbackAddress(TestAddress::HundredFilesAgain), HundredFileTree());
    ASSERT_TRUE(run.server().Ready()) << run.server().Log();
    ASSERT_EQ(run.Run().ExitStatus(), 0);
    std::size_t const walkedBefore = Occurrences(run.server().Log(), " walked (");

    Process& second = run.Run();
    EXPECT_EQ(second.ExitStatus(), 0) << second.Transcript();
    EXPECT_TRUE(second.LinesStartingWith("status: file:").empty()) << second.Transcript();
    EXPECT_TRUE(second.LinesStartingWith("status: Checking").empty()) << second.Transcript();
    ASSERT_TRUE(run.server().WaitForLog("all lists done", 2, Millis(10000)));
    std::string const log = run.server().Log();
    EXPECT_EQ(Occurrences(log, " walked ("), walkedBefore);
    EXPECT_EQ(Occurrences(log, " skipped (unchanged)"), 5u);
    EXPECT_EQ(Occurrences(log, ": sent "), NonEmptyCount(run.tree()));
}

TEST(UpdaterWithServer, AChangedFileIsTheOnlyOneDownloadedAfterARescan) {
    UpdateRun run(LoopbackAddress(TestAddress::PartlyOutdated), HundredFileTree());
    ASSERT_TRUE(run.server().Ready()) << run.server().Log();
    ASSERT_EQ(run.Run().ExitStatus(), 0);
    std::size_t const sentBefore = Occurrences(run.server().Log(), ": sent ");

    TreeFile const changed{"gfx/icons/small/file3.bin", 0};
    auto const found =
        std::find_if(run.tree().begin(), run.tree().end(),
                     [&](TreeFile const& file) { return file.path == changed.path; });
    ASSERT_NE(found, run.tree().end());
    WriteTreeFile(run.release(), *found, 2);  // same size, other bytes
    ASSERT_TRUE(run.server().Rescan()) << run.server().Log();

    Process& second = run.Run();
    EXPECT_EQ(second.ExitStatus(), 0) << second.Transcript();
    auto const downloads = second.LinesStartingWith("status: file:");
    ASSERT_EQ(downloads.size(), 1u) << second.Transcript();
    EXPECT_NE(downloads[0].find(changed.path), std::string::npos) << downloads[0];
    std::string const log = run.server().Log();
    EXPECT_EQ(Occurrences(log, ": sent "), sentBefore + 1);
    EXPECT_EQ(Occurrences(log, "list gfx.ini walked"), 2u);
    EXPECT_EQ(Occurrences(log, " skipped (unchanged)"), 4u);
    std::vector<std::string> differences =
        ReleaseDifferences(run.release(), run.client(), kUpdaterFiles);
    std::sort(differences.begin(), differences.end());
    EXPECT_EQ(differences, run.ExpectedDifferences());
}

TEST(UpdaterWithServer, OutdatedFilesAreReplacedAndObsoleteOnesDeleted) {
    TempDir scratch;
    fs::path const deletions = scratch.path() / "obsolete.txt";
    WriteFile(deletions, "old.txt\n# a comment\ndata/maps/old/retired.map\nlegacy/a/b.dll\n");
    UpdateRun run(LoopbackAddress(TestAddress::DeletionList), SmallTree(),
                  {"--delete", deletions.string()});
    ASSERT_TRUE(run.server().Ready()) << run.server().Log();
    // The client has an older version of some files and files the release no longer has.
    for (TreeFile const& file : run.tree()) {
        if (file.path.starts_with("data/")) {
            WriteTreeFile(run.client(), file, 7);
        }
    }
    WriteTreeFile(run.client(), {"old.txt", 10});
    WriteTreeFile(run.client(), {"data/maps/old/retired.map", 3000});
    WriteTreeFile(run.client(), {"legacy/a/b.dll", 5});
    WriteTreeFile(run.client(), {"keep.me", 5});  // the server does not know it: it stays

    Process& result = run.Run();
    EXPECT_EQ(result.ExitStatus(), 0) << result.Transcript();
    EXPECT_EQ(ReleaseDifferences(run.release(), run.client(), {"upd.ini", "crc.ini", "keep.me"}),
              std::vector<std::string>{});
    EXPECT_FALSE(fs::exists(run.client() / "old.txt"));
    EXPECT_FALSE(fs::exists(run.client() / "data/maps/old/retired.map"));
    EXPECT_FALSE(fs::exists(run.client() / "legacy/a/b.dll"));
    EXPECT_FALSE(fs::exists(run.client() / "legacy/a"));  // emptied by the deletion
    EXPECT_TRUE(fs::exists(run.client() / "keep.me"));
    std::string const log = run.server().Log();
    EXPECT_NE(log.find("list quillmesh.ini walked (2 files, 1 deletion)"), std::string::npos);
    EXPECT_NE(log.find("list data.ini walked (14 files, 1 deletion)"), std::string::npos);
    EXPECT_NE(log.find("list legacy.ini walked (0 files, 1 deletion)"), std::string::npos);
}

// An obsolete file that the client never had, in a directory that only the release has: the
// directory made for the release's files there must still be there when they arrive, although
// the deletion (which removes the directories it empties) was handled in between.
TEST(UpdaterWithServer, AnEmptyClientGetsTheDirectoryOfAnObsoleteFileItNeverHad) {
    for (bool const fastPath : {true, false}) {
        SCOPED_TRACE(fastPath ? "fast path" : "no fast path");
        TempDir scratch;
        fs::path const deletions = scratch.path() / "obsolete.txt";
        WriteFile(deletions, "data/maps/retired.map\n");
        std::vector<std::string> arguments = {"--delete", deletions.string()};
        if (!fastPath) {
            arguments.push_back("--no-fast-path");
        }
        UpdateRun run(LoopbackAddress(TestAddress::EmptyClientObsoleteFile), SmallTree(),
                      arguments);
        ASSERT_TRUE(run.server().Ready()) << run.server().Log();

        ExpectCompleteRun(run, run.Run());
    }
}

}  // namespace
}  // namespace qm::test
