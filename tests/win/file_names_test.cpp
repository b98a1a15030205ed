// Names of working files on Windows: compared without regard to case, the set-aside targets and
// the lock among them, and short 8.3 aliases recognised by file identity. The alias check runs
// through its seam (wine makes no 8.3 names of its own), the rest on real files.
#include <gtest/gtest.h>
#include <windows.h>

#include <map>

#include "base/directory_lock.h"
#include "base/file_names.h"
#include "base/replacement_file.h"
#include "base/win/file_identity.h"
#include "update/download.h"
#include "update/partial_downloads.h"
#include "win/scratch.h"

namespace qm {
namespace {

using base::win::FileIdentity;
using base::win::IdentityCalls;

TEST(WindowsWorkingFiles, AreRecognisedWithoutRegardToCase) {
    test::win::Scratch const scratch;
    for (char const* path :
         {".quillmesh-partial-town.map", ".QUILLMESH-PARTIAL-town.map",
          "data/.Quillmesh-Download-x", ".quillmesh-replaced-abc123",
          "data\\.QuillMesh-Replaced-zz", ".quillmesh-lock", ".QUILLMESH-LOCK"}) {
        EXPECT_TRUE(update::NamesWorkingFile(path)) << path;
    }
    for (char const* path : {"quillmesh-partial-x", "data/.quillmesh", "readme.txt", "lock"}) {
        EXPECT_FALSE(update::NamesWorkingFile(path)) << path;
    }
}

// A directory of three files, one of which has a short alias.
struct FakeDirectory {
    std::map<std::string, FileIdentity> identities = {
        {"data/.quillmesh-partial-town.map", {7, 100}},
        {"data/QUILLM~1.MAP", {7, 100}},  // the alias of the partial file
        {"data/town.map", {7, 200}},
        {"data/TOWN~1.MAP", {7, 200}},  // the alias of an ordinary file
    };
    int identityCalls = 0;

    IdentityCalls Calls() {
        return IdentityCalls{
            [this](std::string const& path) -> std::optional<FileIdentity> {
                ++identityCalls;
                auto const found = identities.find(path);
                if (found == identities.end()) {
                    return std::nullopt;
                }
                return found->second;
            },
            [](std::string const&) {
                return std::vector<std::string>{".quillmesh-partial-town.map", "town.map"};
            }};
    }
};

bool IsWorking(std::string_view name) {
    return base::NameStartsWith(name, update::kPartialPrefix);
}

TEST(WindowsWorkingFiles, AShortAliasOfAWorkingFileIsKnownByItsIdentity) {
    FakeDirectory directory;
    EXPECT_TRUE(base::win::IsAliasOf("data/QUILLM~1.MAP", IsWorking, directory.Calls()));
    EXPECT_FALSE(base::win::IsAliasOf("data/TOWN~1.MAP", IsWorking, directory.Calls()));
    EXPECT_FALSE(base::win::IsAliasOf("data/GONE~1.MAP", IsWorking, directory.Calls()))
        << "a name that leads nowhere aliases nothing";
    int const before = directory.identityCalls;
    EXPECT_FALSE(base::win::IsAliasOf("data/town.map", IsWorking, directory.Calls()));
    EXPECT_EQ(directory.identityCalls, before) << "a name without '~' is no generated alias";
}

TEST(WindowsWorkingFiles, TheSystemIdentityOfOneFileUnderTwoNamesIsTheSame) {
    test::win::Scratch const scratch;
    test::win::WriteText("data/.quillmesh-partial-town.map", "kept");
    test::win::WriteText("data/town.map", "old");
    IdentityCalls const calls = base::win::SystemIdentityCalls();
    auto const partial = calls.identityOf("data/.quillmesh-partial-town.map");
    ASSERT_TRUE(partial.has_value());
    EXPECT_EQ(calls.identityOf("./data/.QUILLMESH-PARTIAL-TOWN.MAP"), partial);
    EXPECT_NE(calls.identityOf("data/town.map"), partial);
    EXPECT_FALSE(calls.identityOf("data/none").has_value());
    std::vector<std::string> const names = calls.namesIn("data");
    EXPECT_EQ(names.size(), 2u);
}

TEST(WindowsRunLock, IsHeldByOneAtATimeAndGoesWithItsOwner) {
    test::win::Scratch const scratch;
    {
        base::DirectoryLock::Attempt const first = base::DirectoryLock::TryLock(".");
        ASSERT_TRUE(std::holds_alternative<base::DirectoryLock>(first));
        base::DirectoryLock::Attempt const second = base::DirectoryLock::TryLock(".");
        auto const* refusal = std::get_if<base::DirectoryLock::Refusal>(&second);
        ASSERT_NE(refusal, nullptr);
        EXPECT_TRUE(refusal->heldElsewhere);
    }
    EXPECT_FALSE(std::filesystem::exists(base::kRunLockFileName)) << "removed when closed";
    EXPECT_TRUE(std::holds_alternative<base::DirectoryLock>(base::DirectoryLock::TryLock(".")));
}

TEST(WindowsReplacement, TheNewVersionTakesThePlaceOfTheOldAsAPlainFile) {
    test::win::Scratch const scratch;
    test::win::WriteText("data/town.map", "old");
    std::optional<base::ReplacementFile> file =
        base::ReplacementFile::Create("data/town.map", ".quillmesh-download-");
    ASSERT_TRUE(file.has_value());
    std::string const working = file->temporaryPath();
    DWORD const hidden = ::GetFileAttributesA(working.c_str());
    EXPECT_NE(hidden & FILE_ATTRIBUTE_HIDDEN, 0u) << "working files are hidden";
    std::string const text = "new version";
    ASSERT_TRUE(
        file->Write(std::span(reinterpret_cast<std::uint8_t const*>(text.data()), text.size())));
    EXPECT_EQ(file->Size(), text.size());
    std::array<std::uint8_t, 3> start{};
    EXPECT_EQ(file->ReadAt(start, 0), 3u);
    EXPECT_EQ(file->Commit(0644), base::ReplacementFile::Outcome::Replaced);
    EXPECT_EQ(test::win::ReadText("data/town.map"), text);
    EXPECT_EQ(::GetFileAttributesA("data/town.map") & FILE_ATTRIBUTE_HIDDEN, 0u);
    EXPECT_FALSE(std::filesystem::exists(working));
}

TEST(WindowsReplacement, AnOpenDataFileThatCannotBeReplacedEndsWithTheOldFileThere) {
    test::win::Scratch const scratch;
    test::win::WriteText("data.bin", "old");
    // Open as a program keeps its data file: shared for reading only, never for deletion.
    HANDLE const held = ::CreateFileA("data.bin", GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    std::optional<base::ReplacementFile> file =
        base::ReplacementFile::Create("data.bin", ".quillmesh-download-");
    ASSERT_TRUE(file.has_value());
    std::string const working = file->temporaryPath();
    ASSERT_TRUE(file->Write(std::span(reinterpret_cast<std::uint8_t const*>("new"), 3)));
    EXPECT_EQ(file->Commit(0644), base::ReplacementFile::Outcome::RenameFailed);
    EXPECT_NE(errno, 0);
    ::CloseHandle(held);
    EXPECT_EQ(test::win::ReadText("data.bin"), "old") << "nothing lost";
    EXPECT_FALSE(std::filesystem::exists(working)) << "the new version is removed";
}

TEST(WindowsReplacement, WhatWasSetAsideIsRemovedByALaterRun) {
    test::win::Scratch const scratch;
    test::win::WriteText("data/.quillmesh-replaced-ab12cd", "the old program");
    test::win::WriteText("data/.quillmesh-download-ef34gh", "a killed run's download");
    test::win::WriteText("data/.quillmesh-replaced-short", "not one of ours");
    test::win::WriteText("data/keep.txt", "kept");
    EXPECT_EQ(update::Download::RemoveLeftovers("data"), 2);
    EXPECT_FALSE(std::filesystem::exists("data/.quillmesh-replaced-ab12cd"));
    EXPECT_TRUE(std::filesystem::exists("data/.quillmesh-replaced-short"));
    EXPECT_EQ(test::win::ReadText("data/keep.txt"), "kept");
}

}  // namespace
}  // namespace qm
