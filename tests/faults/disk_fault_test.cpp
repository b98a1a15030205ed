// The disk fails the updater: a file size limit or a full disk while a chunk is written, a target
// directory it may not write, a target path taken by a directory, a checksum record it cannot
// write. Each ends the run with its "Disk access error" box and exit status 4; the old file is
// intact, no temporary file is left, and nothing else in the client directory is lost or changed.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "faults/served_run.h"
#include "faults/tmpfs_mount.h"
#include "support/addresses.h"
#include "support/conversation.h"
#include "support/crc32.h"
#include "support/lines.h"
#include "support/process.h"
#include "support/profile_text.h"
#include "support/random_bytes.h"
#include "support/scripted_server.h"
#include "support/temp_dir.h"
#include "support/tree_snapshot.h"

namespace qm::test {
namespace {

namespace fs = std::filesystem;

constexpr uid_t kNobody = 65534;
constexpr char kOldRecord[] = "[GLOBAL_CRC]\nearlier.ini=77\n";

// The client directory as every case starts: an old file to be replaced in data/, a file at the
// top, an earlier checksum record.
void FurnishClient(ClientDir& dir) {
    dir.Write("data/file.bin", "the old file, which must survive\n");
    dir.Write("data/other.txt", "a neighbour\n");
    dir.Write("keep.txt", "a file at the top\n");
    dir.Write("crc.ini", kOldRecord);
    fs::permissions(dir.root(), fs::perms(0755));  // other users may reach the client directory
}

void GiveTo(fs::path const& path, uid_t user) {
    ASSERT_EQ(::chown(path.c_str(), user, static_cast<gid_t>(user)), 0) << path;
}

void GiveTreeTo(fs::path const& root, uid_t user) {
    GiveTo(root, user);
    for (auto const& entry : fs::recursive_directory_iterator(root)) {
        GiveTo(entry.path(), user);
    }
}

// A download of `localPath` with `size` new bytes.
ServedRun DownloadOf(std::string const& localPath, std::size_t size) {
    Bytes const content = PatternBytes(size, 7);
    std::string const remote = "files/" + localPath;
    return {.steps = {Description(0, 1, "", "", 0),
                      Description(1, 2, localPath, remote, ReferenceCrc32(content))},
            .files = {{remote, content}}};
}

// Records the checksum of the first list and switches to the next one.
ServedRun ListSwitch() {
    return {.steps = {Description(0, 1, "", "", 0), Description(2, 2, "next.ini", "", 123456)}};
}

ServedRun DeletionOf(std::string const& localPath) {
    return {.steps = {Description(0, 1, "", "", 0), Description(4, 2, localPath, localPath, 0)}};
}

struct DiskCase {
    char const* name;
    std::function<void(ClientDir&)> arrange;  // after FurnishClient
    ProcessOptions conditions;
    ServedRun served;
    std::string box;
};

// Runs one case and checks its ending, and that the client directory is as it was.
void RunDiskCase(DiskCase const& c, std::string const& address) {
    SCOPED_TRACE(c.name);
    ClientDir dir;
    WriteUpdaterConfig(dir.path(), address);
    FurnishClient(dir);
    c.arrange(dir);
    TreeSnapshot const before = SnapshotTree(dir.path());
    TreeSnapshot const outsideBefore =
        SnapshotTree(dir.root(), {.withTimes = true, .skipped = {"client"}});
    ScriptedServer server(address);
    ProcessOptions options = c.conditions;
    options.argv = {UpdaterBinary().string()};
    options.directory = dir.path();
    Process updater(options);
    EXPECT_TRUE(c.served.Serve(server)) << updater.Transcript();
    EXPECT_EQ(updater.ExitStatus(), kExitDisk) << updater.Transcript();
    EXPECT_EQ(updater.Boxes(), Lines{Box("Disk access error", c.box)}) << updater.Transcript();
    EXPECT_EQ(TreeDifferences(before, SnapshotTree(dir.path())), Lines{}) << updater.Transcript();
    EXPECT_EQ(TemporaryEntries(SnapshotTree(dir.path())), Lines{});
    EXPECT_EQ(TreeDifferences(outsideBefore,
                              SnapshotTree(dir.root(), {.withTimes = true, .skipped = {"client"}})),
              Lines{});
}

auto const kNothingMore = [](ClientDir&) {};

// The client directory belongs to nobody, but for data/, which stays root's.
void ClientOfNobodyButData(ClientDir& dir) {
    GiveTreeTo(dir.path(), kNobody);
    GiveTo(dir.path() / "data", 0);
}

ProcessOptions Limited(rlim_t bytes, bool ignoreSignal = true) {
    return {.fileSizeLimit = bytes, .ignoreFileSizeSignal = ignoreSignal};
}

ProcessOptions AsNobody() {
    return {.user = kNobody};
}

// A client directory that the updater may pass through but not open cannot be locked for the
// run: that is a disk failure with the system's reason, not another update at work.
TEST(DiskFault, AClientDirectoryThatCannotBeOpenedForTheRunLockEndsAsADiskFailure) {
    ClientDir dir;
    WriteUpdaterConfig(dir.path(), LoopbackAddress(TestAddress::UnopenableDirectory));
    FurnishClient(dir);
    fs::permissions(dir.path(), fs::perms(0711));
    TreeSnapshot const before = SnapshotTree(dir.path());
    ScriptedServer server(TestAddress::UnopenableDirectory);
    ProcessOptions options = AsNobody();
    options.argv = {UpdaterBinary().string()};
    options.directory = dir.path();
    Process updater(options);
    EXPECT_EQ(updater.ExitStatus(), kExitDisk) << updater.Transcript();
    EXPECT_EQ(updater.Boxes(),
              Lines{Box("Disk access error", "Cannot lock the directory: Permission denied")});
    EXPECT_FALSE(server.ConnectionArrives(Millis(0)));
    EXPECT_EQ(TreeDifferences(before, SnapshotTree(dir.path())), Lines{});
}

TEST(DiskFault, EachEndsWithItsDiskAccessErrorAndLosesNothing) {
    std::string const cannotRecord = "Cannot write the file: ./crc.ini ...";
    DiskCase const cases[] = {
        {"file size limit reached while writing a chunk", kNothingMore, Limited(3000),
         DownloadOf("data/file.bin", 10000), "File too large"},
        {"file size limit reached, the signal left at its default", kNothingMore,
         Limited(3000, false), DownloadOf("data/file.bin", 10000), "File too large"},
        {"file size limit reached by the last, short chunk", kNothingMore, Limited(4100),
         DownloadOf("data/file.bin", 4200), "File too large"},
        {"read-only target directory", ClientOfNobodyButData, AsNobody(),
         DownloadOf("data/file.bin", 5000), "Cannot open the temporary file"},
        {"read-only client directory", kNothingMore, AsNobody(), DownloadOf("keep.txt", 5000),
         "Cannot open the temporary file"},
        {"target path occupied by a directory",
         [](ClientDir& dir) { dir.Write("data/taken/inner.txt", "inside the directory\n"); },
         {},
         DownloadOf("data/taken", 5000),
         "Cannot rename the file: data/taken ..."},
        {"target path occupied by an empty directory",
         [](ClientDir& dir) { fs::create_directory(dir.path() / "data" / "hollow"); },
         {},
         DownloadOf("data/hollow", 3000),
         "Cannot rename the file: data/hollow ..."},
        {"a directory on the path is a file",
         kNothingMore,
         {},
         DownloadOf("keep.txt/file.bin", 100),
         "Cannot open the temporary file"},
        {"deletion in a read-only directory", ClientOfNobodyButData, AsNobody(),
         DeletionOf("data/file.bin"), "Cannot delete the file: data/file.bin ..."},
        {"checksum record in a read-only directory", kNothingMore, AsNobody(), ListSwitch(),
         cannotRecord},
        {"checksum record that cannot be read",
         [](ClientDir& dir) {
             GiveTreeTo(dir.path(), kNobody);
             GiveTo(dir.path() / "crc.ini", 0);
             fs::permissions(dir.path() / "crc.ini", fs::perms::none);
         },
         AsNobody(), ListSwitch(), cannotRecord},
        {"checksum record taken by a directory",
         [](ClientDir& dir) {
             fs::remove(dir.path() / "crc.ini");
             dir.Write("crc.ini/inner.txt", "inside\n");
         },
         {},
         ListSwitch(),
         cannotRecord},
        {"checksum record over the file size limit", kNothingMore, Limited(20), ListSwitch(),
         cannotRecord},
    };
    for (DiskCase const& c : cases) {
        RunDiskCase(c, LoopbackAddress(TestAddress::DiskFaults));
    }
}

// A real full disk: a small tmpfs over data/ (and over the whole client directory for the
// checksum record).
TEST(DiskFault, FullDiskWhileWritingAChunkOrTheChecksumRecord) {
    std::string const address = LoopbackAddress(TestAddress::DiskFull);
    {
        ClientDir probe;
        TmpfsMount mount(probe.path() / "probe", 64 * 1024);
        if (!mount.mounted()) {
            GTEST_SKIP() << "this machine does not let the test mount a tmpfs";
        }
    }
    struct Full {
        char const* name;
        char const* mountedAt;  // relative to the client directory; "" for the directory itself
        ServedRun served;
        std::string box;
    };
    Full const cases[] = {
        // Found before anything is written, from the size the server announced.
        {"too little room for the download", "data", DownloadOf("data/file.bin", 200 * 1024),
         "Not enough room on the disk for data/file.bin ..."},
        {"full while writing the checksum record", "", ListSwitch(),
         "Cannot write the file: ./crc.ini ..."},
    };
    for (Full const& c : cases) {
        SCOPED_TRACE(c.name);
        ClientDir dir;
        fs::path const mountPoint = dir.path() / c.mountedAt;
        TmpfsMount mount(mountPoint, 64 * 1024);
        ASSERT_TRUE(mount.mounted());
        WriteUpdaterConfig(dir.path(), address);
        FurnishClient(dir);
        // Fill what is left, but for a few bytes.
        {
            std::ofstream filler(mountPoint / "filler.bin", std::ios::binary);
            std::string const block(1024, 'f');
            while (filler.write(block.data(), block.size())) {
            }
        }
        fs::resize_file(mountPoint / "filler.bin", fs::file_size(mountPoint / "filler.bin") - 10);
        TreeSnapshot const before = SnapshotTree(dir.path());
        ScriptedServer server(address);
        Process updater(UpdaterOptions(dir.path()));
        EXPECT_TRUE(c.served.Serve(server)) << updater.Transcript();
        EXPECT_EQ(updater.ExitStatus(), kExitDisk) << updater.Transcript();
        EXPECT_EQ(updater.Boxes(), Lines{Box("Disk access error", c.box)}) << updater.Transcript();
        EXPECT_EQ(TreeDifferences(before, SnapshotTree(dir.path())), Lines{});
        EXPECT_EQ(TemporaryEntries(SnapshotTree(dir.path())), Lines{});
    }
}

// With APPLY=run every changed file waits beside the old one until the commit: the room on the
// disk must hold all of them at once. The file that no longer fits ends the run before anything
// of it is written, and the client program keeps its old version.
TEST(DiskFault, AWholeRunEndsWhenTheStagedFilesNoLongerFit) {
    ClientDir dir;
    TmpfsMount mount(dir.path() / "data", 192 * 1024);
    if (!mount.mounted()) {
        GTEST_SKIP() << "this machine does not let the test mount a tmpfs";
    }
    std::string const address = LoopbackAddress(TestAddress::WholeRunOutOfRoom);
    WriteUpdaterConfig(dir.path(), address);
    AddUpdaterSettings(dir.path(), "APPLY=run\n");
    dir.Write("data/one.bin", "old one\n");
    dir.Write("data/two.bin", "old two\n");
    Bytes const one = PatternBytes(100 * 1024, 1);
    Bytes const two = PatternBytes(100 * 1024, 2);
    ScriptedServer server(address);
    Conversation talk(server);
    Process updater(UpdaterOptions(dir.path()));
    ASSERT_TRUE(talk.OpenList(1)) << updater.Transcript();
    ASSERT_TRUE(talk.OfferChanged(2, "data/one.bin", "files/one.bin", ReferenceCrc32(one)));
    ASSERT_TRUE(talk.SendFile("files/one.bin", one, 2)) << updater.Transcript();
    ASSERT_TRUE(talk.OfferChanged(3, "data/two.bin", "files/two.bin", ReferenceCrc32(two)));
    ASSERT_TRUE(talk.SendFileSize("files/two.bin", static_cast<std::uint32_t>(two.size())));
    EXPECT_EQ(updater.ExitStatus(), kExitDisk) << updater.Transcript();
    EXPECT_EQ(updater.Boxes(),
              Lines{Box("Disk access error", "Not enough room on the disk for data/two.bin ...")});
    EXPECT_EQ(dir.Read("data/one.bin"), "old one\n");
    EXPECT_EQ(dir.Read("data/two.bin"), "old two\n");
    EXPECT_TRUE(dir.Exists("data/.quillmesh-staged-one.bin")) << "kept for the next run";
}

}  // namespace
}  // namespace qm::test
