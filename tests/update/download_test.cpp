#include "update/download.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "store/checksum.h"
#include "support/temp_dir.h"

namespace qm::update {
namespace {

namespace fs = std::filesystem;
using qm::test::ReadFile;
using qm::test::TempDir;
using qm::test::WriteFile;

std::span<const std::uint8_t> Bytes(std::string const& text) {
    return {reinterpret_cast<std::uint8_t const*>(text.data()), text.size()};
}

std::uint32_t CrcOf(std::string const& text) {
    return store::Crc32(Bytes(text));
}

std::vector<fs::path> Leftovers(fs::path const& directory) {
    std::vector<fs::path> found;
    for (auto const& entry : fs::directory_iterator(directory)) {
        if (entry.path().filename().string().rfind(kDownloadPrefix, 0) == 0) {
            found.push_back(entry.path());
        }
    }
    return found;
}

TEST(Download, ReplacesTheTargetInOneStepKeepingItsMode) {
    TempDir dir;
    fs::create_directory("bin");
    WriteFile("bin/client", "old");
    chmod("bin/client", 0750);
    auto download = Download::Begin("bin/client");
    ASSERT_TRUE(download);
    EXPECT_EQ(fs::path(download->temporaryPath()).parent_path(), "bin");
    ASSERT_TRUE(download->Append(Bytes("new ")));
    EXPECT_EQ(ReadFile("bin/client"), "old");  // untouched until installed
    ASSERT_TRUE(download->Append(Bytes("contents")));
    EXPECT_EQ(download->Install(CrcOf("new contents")), Download::Result::Installed);
    EXPECT_EQ(ReadFile("bin/client"), "new contents");
    struct stat info {};
    ASSERT_EQ(stat("bin/client", &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0750u);
    EXPECT_TRUE(Leftovers("bin").empty());
}

TEST(Download, NewFileGetsTheDefaultMode) {
    TempDir dir;
    mode_t mask = umask(022);
    auto download = Download::Begin("fresh.txt");
    ASSERT_TRUE(download);
    EXPECT_EQ(download->Install(CrcOf("")), Download::Result::Installed);
    umask(mask);
    struct stat info {};
    ASSERT_EQ(stat("fresh.txt", &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0644u);
    EXPECT_EQ(info.st_size, 0);
}

TEST(Download, WrongChecksumKeepsTheOldFile) {
    TempDir dir;
    WriteFile("data.bin", "old");
    auto download = Download::Begin("data.bin");
    ASSERT_TRUE(download);
    ASSERT_TRUE(download->Append(Bytes("corrupted")));
    EXPECT_EQ(download->Install(CrcOf("expected")), Download::Result::ChecksumMismatch);
    EXPECT_EQ(ReadFile("data.bin"), "old");
    EXPECT_TRUE(Leftovers(".").empty());
}

TEST(Download, RenameOntoADirectoryFailsAndCleansUp) {
    TempDir dir;
    fs::create_directories("occupied/inner");
    auto download = Download::Begin("occupied");
    ASSERT_TRUE(download);
    ASSERT_TRUE(download->Append(Bytes("x")));
    EXPECT_EQ(download->Install(CrcOf("x")), Download::Result::RenameFailed);
    EXPECT_TRUE(fs::is_directory("occupied/inner"));
    EXPECT_TRUE(Leftovers(".").empty());
}

TEST(Download, AnUnfinishedDownloadLeavesNothingBehind) {
    TempDir dir;
    WriteFile("keep.txt", "old");
    {
        auto download = Download::Begin("keep.txt");
        ASSERT_TRUE(download);
        ASSERT_TRUE(download->Append(Bytes("partial")));
        Download moved = std::move(*download);  // ownership moves with the object
        EXPECT_EQ(Leftovers(".").size(), 1u);
    }
    EXPECT_TRUE(Leftovers(".").empty());
    EXPECT_EQ(ReadFile("keep.txt"), "old");
}

TEST(Download, MissingDirectoryCannotBegin) {
    TempDir dir;
    EXPECT_FALSE(Download::Begin("no/such/dir/file.txt"));
}

}  // namespace
}  // namespace qm::update

namespace qm::update {
namespace {

TEST(Download, LeftoversOfAKilledRunAreRemoved) {
    TempDir dir;
    fs::create_directory("lib");
    std::string const prefix = kDownloadPrefix;
    WriteFile("lib/" + prefix + "a1B2c3", "left by a killed run");
    WriteFile("lib/" + prefix + "x", "not one of ours: wrong length");
    WriteFile("lib/keep.so", "kept");
    fs::create_directory("lib/" + prefix + "dir000");
    fs::create_symlink("keep.so", "lib/" + prefix + "link00");
    EXPECT_EQ(Download::RemoveLeftovers("lib"), 1);
    EXPECT_FALSE(fs::exists("lib/" + prefix + "a1B2c3"));
    EXPECT_TRUE(fs::exists("lib/" + prefix + "x"));
    EXPECT_TRUE(fs::is_directory("lib/" + prefix + "dir000"));
    EXPECT_TRUE(fs::is_symlink("lib/" + prefix + "link00"));
    EXPECT_EQ(ReadFile("lib/keep.so"), "kept");
}

}  // namespace
}  // namespace qm::update
