#include "store/directory_chain.h"

#include <gtest/gtest.h>

#include "support/temp_dir_test.h"

namespace qm::store {
namespace {

namespace fs = std::filesystem;

TEST(NormalisePathTest, TurnsBackslashesIntoSlashesAndCutsTo400) {
    EXPECT_EQ(NormalisePath("data\\maps/town.map"), "data/maps/town.map");
    EXPECT_EQ(NormalisePath("\\data\\x.txt"), "/data/x.txt");
    EXPECT_EQ(NormalisePath(""), "");
    EXPECT_EQ(NormalisePath(std::string(401, 'a')), std::string(400, 'a'));
    EXPECT_EQ(NormalisePath(std::string_view("abc\0def", 7)), "abc");
}

using DirectoryChainTest = qm::test::TempDirTest;

TEST_F(DirectoryChainTest, CreatesEveryDirectoryBeforeTheFileName) {
    EXPECT_EQ(CreateDirectoryChain("data\\maps\\town.map"), "data/maps/town.map");
    EXPECT_TRUE(fs::is_directory("data/maps"));
    EXPECT_FALSE(fs::exists("data/maps/town.map"));
}

TEST_F(DirectoryChainTest, BareNameAndEmptyPathCreateNothing) {
    EXPECT_EQ(CreateDirectoryChain("town.map"), "town.map");
    EXPECT_EQ(CreateDirectoryChain(""), "");
    EXPECT_TRUE(Listing().empty());
}

TEST_F(DirectoryChainTest, LeadingSeparatorNamesNoDirectory) {
    // An absolute path into the scratch directory: only the missing directory gets created. (In
    // the generic form, with '/' between names, as the chain writes it back on every platform.)
    std::string const path = (Root() / "data" / "x.txt").generic_string();
    EXPECT_EQ(CreateDirectoryChain(path), path);
    EXPECT_EQ(Listing(), std::vector<std::string>{"data"});
    EXPECT_EQ(CreateDirectoryChain("/"), "/");
}

TEST_F(DirectoryChainTest, TrailingAndDoubledSeparators) {
    EXPECT_EQ(CreateDirectoryChain("a//b.txt"), "a//b.txt");
    EXPECT_EQ(CreateDirectoryChain("c/d/"), "c/d/");
    EXPECT_EQ(Listing(), (std::vector<std::string>{"a", "c"}));
    EXPECT_TRUE(fs::is_directory("c/d"));
    EXPECT_TRUE(fs::is_empty("a"));
}

TEST_F(DirectoryChainTest, ExistingDirectoriesAndFilesAreLeftAlone) {
    WriteFile("data/keep.txt", "kept");  // with its directory
    WriteFile("plain", "file");
    EXPECT_EQ(CreateDirectoryChain("data/sub/f"), "data/sub/f");
    EXPECT_EQ(CreateDirectoryChain("plain/sub/f"), "plain/sub/f");
    EXPECT_EQ(ReadFile("data/keep.txt"), "kept");
    EXPECT_TRUE(fs::is_directory("data/sub"));
    EXPECT_TRUE(fs::is_regular_file("plain"));
}

TEST_F(DirectoryChainTest, DirectoriesBeyondTheCutAreNotCreated) {
    std::string const component(98, 'd');
    std::string path;
    for (int i = 0; i < 4; ++i) {
        path += component + "/";  // 396 characters after four rounds
    }
    std::string const cutDirectory = path + "eeee";
    path += "eeeeeeee/file.txt";
    EXPECT_EQ(CreateDirectoryChain(path), cutDirectory);
    EXPECT_TRUE(fs::is_directory(path.substr(0, 395)));
    EXPECT_FALSE(fs::exists(cutDirectory));
    EXPECT_FALSE(fs::exists(path.substr(0, 404)));
}

TEST_F(DirectoryChainTest, RemovalTakesOnlyTheEmptyInnermostDirectory) {
    fs::create_directories("a/b");
    RemoveDirectoryChain("a\\b\\c.txt");
    EXPECT_FALSE(fs::exists("a/b"));
    EXPECT_TRUE(fs::is_directory("a"));
}

TEST_F(DirectoryChainTest, RemovalLeavesDirectoriesThatHoldFiles) {
    WriteFile("a/b/other.txt", "x");  // with its directories
    WriteFile("a/sibling.txt", "y");
    RemoveDirectoryChain("a/b/c.txt");
    EXPECT_EQ(ReadFile("a/b/other.txt"), "x");
    RemoveDirectoryChain("missing/dir/f.txt");
    RemoveDirectoryChain("a/b");  // the last component is never removed
    EXPECT_TRUE(fs::is_directory("a/b"));
}

}  // namespace
}  // namespace qm::store
