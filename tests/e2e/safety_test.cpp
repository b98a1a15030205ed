// A server must not reach outside the client directory: local paths that leave it are refused for
// downloads and deletions alike, and nothing outside is created, written or deleted.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "support/crc32.h"
#include "support/lines.h"
#include "support/scripted_run.h"

namespace qm::test {
namespace {

namespace fs = std::filesystem;

// What each case's client directory holds, and what lies beside it in the test's root:
//   <root>/victim.txt, <root>/elsewhere/victim.txt, <root>/client/link -> <root>/elsewhere,
//   <root>/client/C:/x
void Furnish(ClientDir const& dir) {
    dir.Write("../victim.txt", "outside");
    dir.Write("../elsewhere/victim.txt", "outside too");
    dir.Write("C:/x", "inside, under a name that looks like a drive");
    fs::create_directory_symlink(dir.root() / "elsewhere", dir.path() / "link");
}

// The unsafe local paths; {root} stands for the test's root directory, {file} for a file name.
constexpr char const* kUnsafePaths[] = {
    "../{file}", "../escape/{file}", "{root}/{file}",        "/etc/x",
    "C:\\x",     "link/{file}",      "link\\deeper\\{file}",
};

std::string Expand(std::string text, std::string_view placeholder, std::string_view value) {
    for (std::size_t at = text.find(placeholder); at != std::string::npos;
         at = text.find(placeholder, at + value.size())) {
        text.replace(at, placeholder.size(), value);
    }
    return text;
}

// The text names the path as sent, or with its separators turned into '/'.
bool NamesPath(std::string_view text, std::string path) {
    if (text.find(path) != std::string_view::npos) {
        return true;
    }
    std::replace(path.begin(), path.end(), '\\', '/');
    return text.find(path) != std::string_view::npos;
}

bool EtcXExists() {
    std::error_code ignored;
    return fs::exists(fs::symlink_status("/etc/x", ignored));
}

// Describes each unsafe path with `action` and expects the run to end with a disk access error
// naming it, having sent nothing but possibly an acknowledgement, and having changed nothing on
// disk: nothing below the test's root, and not /etc/x.
void ExpectRefused(TestAddress address, std::uint8_t action, std::string_view file) {
    for (char const* pattern : kUnsafePaths) {
        ScriptedRun run(address);
        Furnish(run.dir);
        std::string const path =
            Expand(Expand(pattern, "{root}", run.dir.root().string()), "{file}", file);
        SCOPED_TRACE(path);
        TreeSnapshot const before = SnapshotTree(run.dir.root());
        bool const etcX = EtcXExists();
        Process& updater = run.Start();
        ASSERT_TRUE(run.talk.OpenList(1));
        ASSERT_TRUE(run.talk.SendDescription(action, 2, path, "files/payload.txt",
                                             ReferenceCrc32(ToBytes("payload"))));
        EXPECT_TRUE(run.server.ExpectOnlyUntilClosed({run.talk.Ack(2)}));
        EXPECT_EQ(updater.ExitStatus(), kExitDisk);
        ASSERT_TRUE(OneBox(updater, "Disk access error"));
        EXPECT_TRUE(NamesPath(updater.Boxes()[0], path)) << updater.Boxes()[0];
        EXPECT_EQ(TreeDifferences(before, SnapshotTree(run.dir.root())), Lines{});
        EXPECT_EQ(EtcXExists(), etcX);
    }
}

TEST(UnsafePath, DownloadOutsideTheClientDirectoryIsRefused) {
    ExpectRefused(TestAddress::UnsafeDownloadPath, 1, "outside.txt");
}

TEST(UnsafePath, DeletionOutsideTheClientDirectoryIsRefused) {
    ExpectRefused(TestAddress::UnsafeDeletePath, 4, "victim.txt");
}

}  // namespace
}  // namespace qm::test
