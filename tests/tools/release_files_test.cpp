// Reading the release and the deletion list from real files.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "support/temp_dir.h"
#include "update_server/deletion_file.h"
#include "update_server/release_loader.h"
#include "update_server/release_scan.h"

namespace qm::server {
namespace {

namespace fs = std::filesystem;
using test::TempDir;
using test::WriteFile;

ReleaseFile const* Find(std::vector<ReleaseFile> const& files, std::string const& path) {
    for (ReleaseFile const& file : files) {
        if (file.path == path) {
            return &file;
        }
    }
    return nullptr;
}

TEST(ReleaseScan, FindsEveryFileBelowTheRootWithSizeAndChecksum) {
    TempDir dir;
    WriteFile(dir.path() / "rel/check.txt", "123456789");
    WriteFile(dir.path() / "rel/a/b/c/deep.bin", std::string(3000, 'z'));
    WriteFile(dir.path() / "rel/empty", "");
    fs::create_directories(dir.path() / "rel/no/files/here");

    auto const scanned = ScanRelease(dir.path() / "rel");
    ASSERT_TRUE(scanned.ok()) << scanned.reason();
    auto const& files = scanned.value();
    ASSERT_EQ(files.size(), 3u);
    ASSERT_NE(Find(files, "check.txt"), nullptr);
    EXPECT_EQ(Find(files, "check.txt")->checksum, 0xCBF43926u);
    EXPECT_EQ(Find(files, "check.txt")->size, 9u);
    ASSERT_NE(Find(files, "a/b/c/deep.bin"), nullptr);
    EXPECT_EQ(Find(files, "a/b/c/deep.bin")->size, 3000u);
    EXPECT_EQ(Find(files, "a/b/c/deep.bin")->checksum, 0x898E6B29u);
    ASSERT_NE(Find(files, "empty"), nullptr);
    EXPECT_EQ(Find(files, "empty")->checksum, 0u);
}

TEST(ReleaseScan, FollowsLinksToFilesButDoesNotEnterLinkedDirectories) {
    TempDir dir;
    WriteFile(dir.path() / "outside/secret.txt", "s");
    WriteFile(dir.path() / "rel/real.txt", "r");
    fs::create_symlink(dir.path() / "outside/secret.txt", dir.path() / "rel/linked.txt");
    fs::create_directory_symlink(dir.path() / "outside", dir.path() / "rel/linkdir");

    auto const scanned = ScanRelease(dir.path() / "rel");
    ASSERT_TRUE(scanned.ok()) << scanned.reason();
    EXPECT_NE(Find(scanned.value(), "linked.txt"), nullptr);
    EXPECT_EQ(Find(scanned.value(), "linkdir/secret.txt"), nullptr);
    EXPECT_EQ(scanned.value().size(), 2u);
}

TEST(ReleaseScan, RefusesAMissingRootAFileAsRootAndAnUnreadableFile) {
    TempDir dir;
    WriteFile(dir.path() / "plain", "x");
    EXPECT_NE(ScanRelease(dir.path() / "missing").reason().find("does not exist"),
              std::string::npos);
    EXPECT_NE(ScanRelease(dir.path() / "plain").reason().find("is not a directory"),
              std::string::npos);
    if (::geteuid() != 0) {  // root reads everything
        WriteFile(dir.path() / "rel/locked.bin", "x");
        fs::permissions(dir.path() / "rel/locked.bin", fs::perms::none);
        auto const scanned = ScanRelease(dir.path() / "rel");
        ASSERT_FALSE(scanned.ok());
        EXPECT_NE(scanned.reason().find("locked.bin"), std::string::npos) << scanned.reason();
    }
}

TEST(DeletionFile, OnePathALineWithCommentsBlanksAndWindowsLineEnds) {
    TempDir dir;
    WriteFile(dir.path() / "obsolete.txt",
              "# obsolete since 1.2\n"
              "old.txt\r\n"
              "\n"
              "   data/maps/old.map  \n"
              "\t\n"
              "gfx/gone.png");
    auto const read = ReadDeletionFile(dir.path() / "obsolete.txt");
    ASSERT_TRUE(read.ok()) << read.reason();
    EXPECT_EQ(read.value(),
              (std::vector<std::string>{"old.txt", "data/maps/old.map", "gfx/gone.png"}));
}

TEST(DeletionFile, AMissingFileIsRefusedWithItsName) {
    TempDir dir;
    auto const read = ReadDeletionFile(dir.path() / "nope.txt");
    ASSERT_FALSE(read.ok());
    EXPECT_NE(read.reason().find("nope.txt"), std::string::npos) << read.reason();
}

TEST(ReleaseLoader, ScansAgainOnEveryLoad) {
    TempDir dir;
    WriteFile(dir.path() / "rel/data/a.bin", "first");
    WriteFile(dir.path() / "obsolete", "data/old.bin\n");
    ReleaseLoader const loader(dir.path() / "rel", dir.path() / "obsolete");

    auto const first = loader.Load();
    ASSERT_TRUE(first.ok()) << first.reason();
    WriteFile(dir.path() / "rel/data/a.bin", "second version");
    auto const second = loader.Load();
    ASSERT_TRUE(second.ok()) << second.reason();

    FileList const* before = first.value()->FindList("data.ini");
    FileList const* after = second.value()->FindList("data.ini");
    ASSERT_NE(before, nullptr);
    ASSERT_NE(after, nullptr);
    EXPECT_EQ(before->deletions, (std::vector<std::string>{"data/old.bin"}));
    EXPECT_EQ(after->files.at(0).size, 14u);
    EXPECT_NE(before->checksum, after->checksum);
    EXPECT_EQ(first.value()->FindFile("data/a.bin")->size, 5u);  // the old catalog is unchanged
}

TEST(ReleaseLoader, PassesOnTheReasonOfARefusal) {
    TempDir dir;
    WriteFile(dir.path() / "rel/a.bin", "x");
    WriteFile(dir.path() / "obsolete", "../escape\n");
    auto const loaded = ReleaseLoader(dir.path() / "rel", dir.path() / "obsolete").Load();
    ASSERT_FALSE(loaded.ok());
    EXPECT_NE(loaded.reason().find("'../escape'"), std::string::npos) << loaded.reason();
}

}  // namespace
}  // namespace qm::server
