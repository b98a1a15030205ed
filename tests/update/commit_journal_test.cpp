// The commit of a whole run and the journal that carries it over a kill or a power cut. The
// journals here are written by the test from the documented layout, not by the product.
#include "update/commit_journal.h"

#include <gtest/gtest.h>

#include <string>

#include "support/crc32.h"
#include "support/temp_dir_test.h"

namespace qm::update {
namespace {

using CommitJournalTest = qm::test::TempDirTest;

// A journal as the layout describes it: a heading, one line an entry, and the CRC-32 of all that.
std::string Journal(std::string const& entries) {
    std::string const text = "quillmesh commit 1\n" + entries;
    return text + "end " + std::to_string(qm::test::ReferenceCrc32(text)) + "\n";
}

// The old version of a small client, with a new one staged for every file but c.txt.
void FurnishStaged() {
    qm::test::WriteFile("a.txt", "old a");
    qm::test::WriteFile(".quillmesh-staged-a.txt", "new a");
    std::filesystem::create_directories("my dir");
    qm::test::WriteFile("my dir/b%.txt", "old b");
    qm::test::WriteFile("my dir/.quillmesh-staged-b%.txt", "new b");
    qm::test::WriteFile("c.txt", "obsolete");
}

std::string const kEntries =
    "install a.txt\ninstall my%20dir/b%25.txt\ndelete c.txt\nrecord my%20list%25.ini 42\n";

TEST_F(CommitJournalTest, AWholeJournalIsCarriedOutOnceAndThenGone) {
    FurnishStaged();
    WriteFile(kJournalPath, Journal(kEntries));
    std::string problem;
    EXPECT_EQ(CompleteInterruptedCommit(problem), Recovery::Completed) << problem;
    EXPECT_EQ(ReadFile("a.txt"), "new a");
    EXPECT_EQ(ReadFile("my dir/b%.txt"), "new b");
    EXPECT_EQ(Listing(), (std::vector<std::string>{"a.txt", "crc.ini", "my dir"}));
    EXPECT_EQ(ReadFile("crc.ini"), "[GLOBAL_CRC]\nmy list%.ini=42\n");
    // A kill after the steps but before the journal went: doing them again changes nothing.
    WriteFile(kJournalPath, Journal(kEntries));
    EXPECT_EQ(CompleteInterruptedCommit(problem), Recovery::Completed) << problem;
    EXPECT_EQ(ReadFile("a.txt"), "new a");
    EXPECT_EQ(CompleteInterruptedCommit(problem), Recovery::NoJournal);
}

// A journal that is not whole was never promised: it goes unused, and the old version stays.
TEST_F(CommitJournalTest, AJournalThatIsNotWholeIsRemovedUnused) {
    std::string const whole = Journal(kEntries);
    struct Case {
        char const* name;
        std::string text;
    };
    std::string changed = whole;
    changed[25] ^= 1;
    Case const cases[] = {
        {"cut after the heading", whole.substr(0, 19)},
        {"cut before its end line", whole.substr(0, whole.rfind("end "))},
        {"cut in its checksum", whole.substr(0, whole.size() - 3)},
        {"a changed byte", changed},
        {"an unknown step", Journal("rename a.txt\n")},
        {"empty", ""},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.name);
        FurnishStaged();
        WriteFile(kJournalPath, c.text);
        std::string problem;
        EXPECT_EQ(CompleteInterruptedCommit(problem), Recovery::NoJournal);
        EXPECT_EQ(ReadFile("a.txt"), "old a");
        EXPECT_EQ(ReadFile("c.txt"), "obsolete");
        EXPECT_FALSE(std::filesystem::exists(kJournalPath));
    }
}

TEST_F(CommitJournalTest, APlanIsCommittedWholeAndAFailedStepKeepsTheJournal) {
    FurnishStaged();
    RunPlan plan;
    plan.Install("a.txt");
    plan.Install("my dir/b%.txt");
    plan.Delete("c.txt");
    plan.Record("my list%.ini", 42);
    std::string problem;
    ASSERT_TRUE(CommitPlan(plan, problem)) << problem;
    EXPECT_EQ(ReadFile("a.txt"), "new a");
    EXPECT_EQ(Listing(), (std::vector<std::string>{"a.txt", "crc.ini", "my dir"}));

    // A deletion that meets a directory fails: the journal stays for the next run.
    std::filesystem::create_directories("d/inner");
    RunPlan blocked;
    blocked.Delete("d");
    EXPECT_FALSE(CommitPlan(blocked, problem));
    EXPECT_EQ(problem, "Cannot delete the file: d ...");
    EXPECT_TRUE(std::filesystem::exists(kJournalPath));
    std::filesystem::remove_all("d");
    EXPECT_EQ(CompleteInterruptedCommit(problem), Recovery::Completed) << problem;
}

}  // namespace
}  // namespace qm::update
