#include "update/download.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <random>
#include <set>

#include "base/bytes.h"
#include "checksum/checksum.h"
#include "support/posix_features.h"
#include "support/skip_without.h"
#include "support/temp_dir.h"

namespace qm::update {
namespace {

namespace fs = std::filesystem;
using qm::test::ReadFile;
using qm::test::TempDir;
using qm::test::WriteFile;

using base::AsBytes;

std::uint32_t CrcOf(std::string const& text) {
    return checksum::Crc32(AsBytes(text));
}

std::uint64_t SizeOnDisk(std::string const& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 ? static_cast<std::uint64_t>(info.st_size) : 0;
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
    test::SetMode("bin/client", 0750);
    auto download = Download::Begin("bin/client");
    ASSERT_TRUE(download);
    EXPECT_EQ(fs::path(download->filePath()).parent_path(), "bin");
    ASSERT_TRUE(download->Append(AsBytes("new ")));
    EXPECT_EQ(ReadFile("bin/client"), "old");  // untouched until installed
    ASSERT_TRUE(download->Append(AsBytes("contents")));
    EXPECT_EQ(download->Install(CrcOf("new contents")), Download::Result::Installed);
    EXPECT_EQ(ReadFile("bin/client"), "new contents");
    if (test::Has(test::PosixFeature::PermissionBits)) {
        EXPECT_EQ(dir.Mode("bin/client"), 0750u);
    }
    EXPECT_TRUE(Leftovers("bin").empty());
}

TEST(Download, NewFileGetsTheDefaultMode) {
    QM_SKIP_WITHOUT(PermissionBits);
    TempDir dir;
    auto const mask = umask(022);
    auto download = Download::Begin("fresh.txt");
    ASSERT_TRUE(download);
    EXPECT_EQ(download->Install(CrcOf("")), Download::Result::Installed);
    umask(mask);
    EXPECT_EQ(dir.Mode("fresh.txt"), 0644u);
    EXPECT_EQ(SizeOnDisk("fresh.txt"), 0u);
}

// A download of `path` that takes `text` and is installed against `crc` ends with `result`, and
// leaves no temporary file.
void ExpectInstall(char const* path, std::string const& text, std::uint32_t crc,
                   Download::Result result) {
    auto download = Download::Begin(path);
    ASSERT_TRUE(download);
    ASSERT_TRUE(download->Append(AsBytes(text)));
    EXPECT_EQ(download->Install(crc), result);
    EXPECT_TRUE(Leftovers(".").empty());
}

TEST(Download, WrongChecksumKeepsTheOldFile) {
    TempDir dir;
    WriteFile("data.bin", "old");
    ExpectInstall("data.bin", "corrupted", CrcOf("expected"), Download::Result::ChecksumMismatch);
    EXPECT_EQ(ReadFile("data.bin"), "old");
}

TEST(Download, RenameOntoADirectoryFailsAndCleansUp) {
    TempDir dir;
    fs::create_directories("occupied/inner");
    ExpectInstall("occupied", "x", CrcOf("x"), Download::Result::RenameFailed);
    EXPECT_TRUE(fs::is_directory("occupied/inner"));
}

TEST(Download, AnUnfinishedDownloadLeavesNothingBehind) {
    TempDir dir;
    WriteFile("keep.txt", "old");
    {
        auto download = Download::Begin("keep.txt");
        ASSERT_TRUE(download);
        ASSERT_TRUE(download->Append(AsBytes("partial")));
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

TEST(Download, LeftoversOfAKilledRunAreRemoved) {
    TempDir dir;
    fs::create_directory("lib");
    std::string const prefix = kDownloadPrefix;
    WriteFile("lib/" + prefix + "a1B2c3", "left by a killed run");
    WriteFile("lib/" + prefix + "x", "not one of ours: wrong length");
    WriteFile("lib/keep.so", "kept");
    fs::create_directory("lib/" + prefix + "dir000");
    bool const links = test::Has(test::PosixFeature::SymbolicLinks);
    if (links) {
        fs::create_symlink("keep.so", "lib/" + prefix + "link00");
    }
    EXPECT_EQ(Download::RemoveLeftovers("lib"), 1);
    EXPECT_FALSE(fs::exists("lib/" + prefix + "a1B2c3"));
    EXPECT_TRUE(fs::exists("lib/" + prefix + "x"));
    EXPECT_TRUE(fs::is_directory("lib/" + prefix + "dir000"));
    EXPECT_EQ(fs::is_symlink("lib/" + prefix + "link00"), links);
    EXPECT_EQ(ReadFile("lib/keep.so"), "kept");
}

std::string RandomBytes(std::size_t size, unsigned seed) {
    std::mt19937 generator(seed);
    std::string bytes(size, '\0');
    for (char& byte : bytes) {
        byte = static_cast<char>(generator());
    }
    return bytes;
}

// Chunks of any size, smaller or larger than a write block and across block boundaries, arrive
// whole and in order.
TEST(Download, ContentsSurviveGatheringForEveryChunkSize) {
    std::size_t const sizes[] = {
        1, 2027, kDownloadWriteBlock - 1, kDownloadWriteBlock, kDownloadWriteBlock + 1, 150001};
    for (std::size_t chunkSize : sizes) {
        TempDir dir;
        // Past 8 MiB, so that the file's write-back is started twice on the way.
        std::string const contents =
            RandomBytes((9 << 20) + 12345, static_cast<unsigned>(chunkSize));
        auto download = Download::Begin("file.bin");
        ASSERT_TRUE(download);
        for (std::size_t at = 0; at < contents.size(); at += chunkSize) {
            ASSERT_TRUE(download->Append(AsBytes(contents.substr(at, chunkSize))));
        }
        EXPECT_EQ(download->bytesWritten(), contents.size());
        ASSERT_EQ(download->Install(CrcOf(contents)), Download::Result::Installed) << chunkSize;
        EXPECT_EQ(ReadFile("file.bin"), contents) << chunkSize;
    }
}

// A resumed download takes the kept part (read back through its write block) into its checksum,
// then goes on gathering; a part that holds more than is kept is cut, one that holds less starts
// over. Kept sizes on both sides of a block.
TEST(Download, AResumedDownloadGoesOnFromWhatIsKept) {
    std::string const contents = RandomBytes(3 * kDownloadWriteBlock + 777, 21);
    for (std::size_t kept : {std::size_t{0}, std::size_t{1}, kDownloadWriteBlock,
                             kDownloadWriteBlock + 1, 2 * kDownloadWriteBlock + 5000}) {
        TempDir dir;
        WriteFile("part.bin", contents.substr(0, kept + 100));  // 100 bytes past what is kept
        auto download = Download::Resume("file.bin", "part.bin", kept);
        ASSERT_TRUE(download) << kept;
        EXPECT_EQ(download->bytesWritten(), kept);
        ASSERT_TRUE(download->Append(AsBytes(contents.substr(kept))));
        ASSERT_EQ(download->Install(CrcOf(contents)), Download::Result::Installed) << kept;
        EXPECT_EQ(ReadFile("file.bin"), contents) << kept;
    }
    TempDir dir;
    WriteFile("part.bin", contents.substr(0, 10));
    auto download = Download::Resume("file.bin", "part.bin", 20);
    ASSERT_TRUE(download);
    EXPECT_EQ(download->bytesWritten(), 0u);
}

// Protocol-sized chunks reach the file in a few large writes, not one write each.
TEST(Download, SmallChunksAreWrittenInBlocks) {
    TempDir dir;
    auto download = Download::Begin("file.bin");
    ASSERT_TRUE(download);
    std::string const chunk = RandomBytes(2027, 7);
    std::set<std::uint64_t> sizesSeen;
    int const chunks = 200;
    for (int i = 0; i < chunks; ++i) {
        ASSERT_TRUE(download->Append(AsBytes(chunk)));
        sizesSeen.insert(SizeOnDisk(download->filePath()));
    }
    std::uint64_t const total = chunk.size() * chunks;
    EXPECT_LE(sizesSeen.size(), total / kDownloadWriteBlock + 2);
    EXPECT_LT(SizeOnDisk(download->filePath()), total);
}

// A full disk is reported whether it strikes while chunks arrive or only when the last gathered
// block is written at installation; the old file stays and no temporary file is left.
TEST(Download, AWriteFailureIsReportedAndKeepsTheOldFile) {
    QM_SKIP_WITHOUT(FileSizeLimit);
    struct Case {
        std::uint64_t limit;
        std::size_t total;
    } const cases[] = {
        {100 * 1024, 200 * 1024},                 // fails while chunks arrive
        {kDownloadWriteBlock + 4096, 70 * 1024},  // only the last block does not fit
    };
    for (Case const& c : cases) {
        TempDir dir;
        WriteFile("data.bin", "old");
        std::string const contents = RandomBytes(c.total, 3);
        bool failed = false;
        int failure = 0;
        {
            test::FileSizeLimit const limit(c.limit);
            ASSERT_TRUE(limit.active());
            auto download = Download::Begin("data.bin");
            ASSERT_TRUE(download);
            for (std::size_t at = 0; at < contents.size() && !failed; at += 2027) {
                failed = !download->Append(AsBytes(contents.substr(at, 2027)));
            }
            if (!failed) {
                failed = download->Install(CrcOf(contents)) == Download::Result::WriteFailed;
            }
            failure = errno;
        }
        EXPECT_TRUE(failed) << c.limit;
        EXPECT_EQ(failure, EFBIG) << c.limit;
        EXPECT_EQ(ReadFile("data.bin"), "old");
        EXPECT_TRUE(Leftovers(".").empty());
    }
}

}  // namespace
}  // namespace qm::update
