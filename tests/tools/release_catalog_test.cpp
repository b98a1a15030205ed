#include "update_server/release_catalog.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace qm::server {
namespace {

std::vector<ReleaseFile> SampleFiles() {
    return {
        {"readme.txt", 0x11, 6},
        {"gfx/icons/app.png", 0x22, 900},
        {"data/maps/town.map", 0x33, 5000},
        {"quillmesh", 0x44, 70000},
        {"data/rules.txt", 0x55, 12},
        {"gfx/logo.png", 0x66, 300},
    };
}

ReleaseCatalog BuildOrFail(std::vector<ReleaseFile> files,
                           std::vector<std::string> deletions = {}) {
    Outcome<ReleaseCatalog> built =
        ReleaseCatalog::Build("/srv/release", std::move(files), std::move(deletions));
    EXPECT_TRUE(built.ok()) << built.reason();
    if (!built.ok()) {
        return ReleaseCatalog::Build("/srv/release", {}, {}).value();
    }
    return std::move(built.value());
}

std::vector<std::string> Paths(std::vector<ReleaseFile> const& files) {
    std::vector<std::string> paths;
    for (ReleaseFile const& file : files) {
        paths.push_back(file.path);
    }
    return paths;
}

std::map<std::string, std::uint32_t> ChecksumsByList(ReleaseCatalog const& catalog) {
    std::map<std::string, std::uint32_t> checksums;
    for (FileList const& list : catalog.lists()) {
        checksums[list.name] = list.checksum;
    }
    return checksums;
}

// ---- Grouping and chaining --------------------------------------------------------------------

TEST(ReleaseCatalogLists, RootFilesFirstThenOneListPerTopDirectoryInNameOrder) {
    ReleaseCatalog const catalog = BuildOrFail(SampleFiles());
    auto const& lists = catalog.lists();
    ASSERT_EQ(lists.size(), 3u);
    EXPECT_EQ(lists[0].name, "quillmesh.ini");
    EXPECT_EQ(lists[1].name, "data.ini");
    EXPECT_EQ(lists[2].name, "gfx.ini");
    EXPECT_EQ(Paths(lists[0].files), (std::vector<std::string>{"quillmesh", "readme.txt"}));
    EXPECT_EQ(Paths(lists[1].files),
              (std::vector<std::string>{"data/maps/town.map", "data/rules.txt"}));
    EXPECT_EQ(Paths(lists[2].files),
              (std::vector<std::string>{"gfx/icons/app.png", "gfx/logo.png"}));
}

TEST(ReleaseCatalogLists, EachListNamesTheNextAndTheLastAnEmptyOne) {
    ReleaseCatalog const catalog = BuildOrFail(SampleFiles());
    auto const& lists = catalog.lists();
    EXPECT_EQ(lists[0].next, "data.ini");
    EXPECT_EQ(lists[1].next, "gfx.ini");
    EXPECT_EQ(lists[2].next, "");
}

TEST(ReleaseCatalogLists, AnEmptyReleaseStillHasTheFirstList) {
    ReleaseCatalog const catalog = BuildOrFail({});
    ASSERT_EQ(catalog.lists().size(), 1u);
    EXPECT_EQ(catalog.lists()[0].name, "quillmesh.ini");
    EXPECT_EQ(catalog.lists()[0].next, "");
    EXPECT_EQ(catalog.lists()[0].EntryCount(), 0u);
}

TEST(ReleaseCatalogLists, OnlySubdirectoriesMeansAnEmptyFirstListThatLeadsToThem) {
    ReleaseCatalog const catalog = BuildOrFail({{"b/x", 1, 1}, {"a/y/z", 2, 2}});
    auto const& lists = catalog.lists();
    ASSERT_EQ(lists.size(), 3u);
    EXPECT_TRUE(lists[0].files.empty());
    EXPECT_EQ(lists[0].next, "a.ini");
    EXPECT_EQ(lists[1].next, "b.ini");
}

TEST(ReleaseCatalogLists, DeletionsAreAnnouncedInTheListOfTheirTopDirectory) {
    ReleaseCatalog const catalog =
        BuildOrFail(SampleFiles(), {"old.txt", "data/maps/old.map", "sounds/gone.wav"});
    auto const& lists = catalog.lists();
    ASSERT_EQ(lists.size(), 4u);
    EXPECT_EQ(lists[0].deletions, (std::vector<std::string>{"old.txt"}));
    EXPECT_EQ(lists[1].deletions, (std::vector<std::string>{"data/maps/old.map"}));
    EXPECT_TRUE(lists[2].deletions.empty());
    // A directory that is gone from the release gets a list of its own for its deletions.
    EXPECT_EQ(lists[3].name, "sounds.ini");
    EXPECT_TRUE(lists[3].files.empty());
    EXPECT_EQ(lists[3].deletions, (std::vector<std::string>{"sounds/gone.wav"}));
    EXPECT_EQ(lists[2].next, "sounds.ini");
    EXPECT_EQ(lists[3].next, "");
}

TEST(ReleaseCatalogLists, RepeatedDeletionsAreAnnouncedOnce) {
    ReleaseCatalog const catalog = BuildOrFail({}, {"old.txt", "old.txt"});
    EXPECT_EQ(catalog.lists()[0].deletions, (std::vector<std::string>{"old.txt"}));
}

TEST(ReleaseCatalogLists, FindsFilesAndListsByName) {
    ReleaseCatalog const catalog = BuildOrFail(SampleFiles(), {"data/old.bin"});
    ASSERT_NE(catalog.FindFile("data/maps/town.map"), nullptr);
    EXPECT_EQ(catalog.FindFile("data/maps/town.map")->size, 5000u);
    ASSERT_NE(catalog.FindFile("readme.txt"), nullptr);
    EXPECT_EQ(catalog.FindFile("readme.txt")->checksum, 0x11u);
    EXPECT_EQ(catalog.FindFile("data/old.bin"), nullptr);  // a deletion is no file to fetch
    EXPECT_EQ(catalog.FindFile("data/maps"), nullptr);
    EXPECT_EQ(catalog.FindFile("nothing/here"), nullptr);
    EXPECT_EQ(catalog.FindList("gfx.ini"), &catalog.lists()[2]);
    EXPECT_EQ(catalog.FindList("gfx"), nullptr);
    EXPECT_EQ(catalog.FindList(""), nullptr);
    EXPECT_EQ(catalog.FileCount(), 6u);
}

// ---- Checksums --------------------------------------------------------------------------------

struct Change {
    char const* what;
    char const* changedList;
    std::function<void(std::vector<ReleaseFile>&, std::vector<std::string>&)> apply;
};

TEST(ReleaseCatalogChecksums, EveryChangeToAListChangesItsChecksumAndNoOther) {
    Change const changes[] = {
        {"file contents", "data.ini", [](auto& files, auto&) { files[2].checksum ^= 1; }},
        {"file size", "gfx.ini", [](auto& files, auto&) { files[5].size += 1; }},
        {"file added", "gfx.ini",
         [](auto& files, auto&) {
             files.push_back({"gfx/new.png", 0x77, 1});
         }},
        {"file removed", "quillmesh.ini", [](auto& files, auto&) { files.erase(files.begin()); }},
        {"file renamed", "data.ini", [](auto& files, auto&) { files[4].path = "data/rules2.txt"; }},
        {"deletion added", "quillmesh.ini",
         [](auto&, auto& deletions) { deletions.push_back("old.txt"); }},
        {"deletion in a subdirectory", "data.ini",
         [](auto&, auto& deletions) { deletions.push_back("data/old.txt"); }},
    };
    std::map<std::string, std::uint32_t> const before = ChecksumsByList(BuildOrFail(SampleFiles()));
    for (Change const& change : changes) {
        SCOPED_TRACE(change.what);
        std::vector<ReleaseFile> files = SampleFiles();
        std::vector<std::string> deletions;
        change.apply(files, deletions);
        std::map<std::string, std::uint32_t> const after =
            ChecksumsByList(BuildOrFail(files, deletions));
        for (auto const& [name, checksum] : before) {
            if (name == change.changedList) {
                EXPECT_NE(after.at(name), checksum) << name;
            } else {
                EXPECT_EQ(after.at(name), checksum) << name;
            }
        }
    }
}

TEST(ReleaseCatalogChecksums, DoNotDependOnTheOrderFilesWereFoundIn) {
    std::vector<ReleaseFile> reversed = SampleFiles();
    std::reverse(reversed.begin(), reversed.end());
    EXPECT_EQ(ChecksumsByList(BuildOrFail(reversed)), ChecksumsByList(BuildOrFail(SampleFiles())));
}

TEST(ReleaseCatalogChecksums, AFileAndADeletionOfTheSamePathDiffer) {
    auto const asFile = BuildOrFail({{"x.bin", 0, 0}});
    auto const asDeletion = BuildOrFail({}, {"x.bin"});
    EXPECT_NE(asFile.lists()[0].checksum, asDeletion.lists()[0].checksum);
}

// ---- Refusals ---------------------------------------------------------------------------------

struct Refusal {
    char const* what;
    std::vector<ReleaseFile> files;
    std::vector<std::string> deletions;
    char const* reasonMentions;
};

TEST(ReleaseCatalogRefusals, PathsThatCannotBeSentAndContradictionsAreRefused) {
    std::string const longPath = "data/" + std::string(59, 'x');  // 64 characters
    Refusal const refusals[] = {
        {"file path of 64 characters", {{longPath, 1, 1}}, {}, "longer than 63"},
        {"deletion of 64 characters", {}, {longPath}, "longer than 63"},
        {"absolute deletion", {}, {"/etc/passwd"}, "absolute"},
        {"parent component", {}, {"data/../../x"}, "'..'"},
        {"current component", {}, {"./x"}, "'.'"},
        {"empty component", {}, {"data//x"}, "empty component"},
        {"trailing separator", {}, {"data/"}, "empty component"},
        {"backslash", {}, {"data\\x"}, "'\\'"},
        {"drive letter", {}, {"C:/x"}, "drive letter"},
        {"control character", {}, {"a\tb"}, "printable ASCII"},
        {"non-ASCII", {{"caf\xC3\xA9.txt", 1, 1}}, {}, "printable ASCII"},
        {"file too large", {{"huge.bin", 1, 0x100000000ull}}, {}, "larger than"},
        {"deletion of a release file", {{"a/b.txt", 1, 1}}, {"a/b.txt"}, "is a file of"},
        {"deletion of a release directory", {{"a/b/c.txt", 1, 1}}, {"a/b"}, "is a directory of"},
        {"deletion below a release file", {{"a/b", 1, 1}}, {"a/b/c"}, "lies below"},
        {"directory named like the first list", {{"quillmesh/x", 1, 1}}, {}, "second list"},
        {"directory that cannot be a key", {{"a=b/x", 1, 1}}, {}, "cannot name a list"},
        {"deletion in such a directory", {}, {"[x/y"}, "cannot name a list"},
    };
    for (Refusal const& refusal : refusals) {
        SCOPED_TRACE(refusal.what);
        Outcome<ReleaseCatalog> const built =
            ReleaseCatalog::Build("/r", refusal.files, refusal.deletions);
        ASSERT_FALSE(built.ok());
        EXPECT_NE(built.reason().find(refusal.reasonMentions), std::string::npos) << built.reason();
    }
}

TEST(ReleaseCatalogRefusals, PathsRightAtTheLimitsAreAccepted) {
    std::string const longest = "data/" + std::string(58, 'x');  // 63 characters
    Outcome<ReleaseCatalog> const built = ReleaseCatalog::Build(
        "/r", {{longest, 1, 0xFFFFFFFFull}, {"a b/c d.txt", 2, 0}, {".hidden/x..y", 3, 0}},
        {"data/" + std::string(58, 'y'), "quillmesh2/x"});
    ASSERT_TRUE(built.ok()) << built.reason();
    EXPECT_NE(built.value().FindFile(longest), nullptr);
}

TEST(ReleaseCatalogRefusals, TheReasonNamesTheOffendingPath) {
    Outcome<ReleaseCatalog> const built = ReleaseCatalog::Build("/r", {}, {"ok.txt", "bad/../x"});
    ASSERT_FALSE(built.ok());
    EXPECT_NE(built.reason().find("'bad/../x'"), std::string::npos) << built.reason();
}

}  // namespace
}  // namespace qm::server
