#include "app/program_launch.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sstream>

#include "support/temp_dir.h"

namespace qm::app {
namespace {

using qm::test::ReadFile;
using qm::test::TempDir;
using qm::test::WriteFile;

TEST(SplitCommandLine, BlanksSeparateAndQuotesGroup) {
    struct Case {
        std::string line;
        std::vector<std::string> words;
    } cases[] = {
        {"client UPDATED", {"client", "UPDATED"}},
        {"  client   -x\tUPDATED ", {"client", "-x", "UPDATED"}},
        {"\"my client\" UPDATED", {"my client", "UPDATED"}},
        {"client \"\" UPDATED", {"client", "", "UPDATED"}},
        {"a\"b c\"d UPDATED", {"ab cd", "UPDATED"}},
        {"", {}},
    };
    for (auto const& c : cases) {
        EXPECT_EQ(SplitCommandLine(c.line), c.words) << c.line;
    }
}

TEST(FindProgram, CurrentDirectoryComesBeforePath) {
    TempDir dir;
    WriteFile("sh", "#!/bin/sh\n");
    chmod("sh", 0755);
    EXPECT_EQ(FindProgram("sh"), "./sh");
    WriteFile("plain", "not executable");
    EXPECT_EQ(FindProgram("plain"), "");
    EXPECT_NE(FindProgram("true"), "");  // from PATH
    EXPECT_EQ(FindProgram("./absent"), "");
    EXPECT_EQ(FindProgram("no-such-program-anywhere"), "");
}

TEST(LaunchProgram, StartsInItsOwnSessionWithoutStandardInput) {
    TempDir dir;
    WriteFile("client",
              "#!/bin/sh\n"
              "echo \"$@\" > args.tmp\n"
              "readlink /proc/$$/fd/0 >> args.tmp\n"
              "cut -d' ' -f6 /proc/$$/stat >> args.tmp\n"
              "echo $$ >> args.tmp\n"
              "mv args.tmp args\n");
    chmod("client", 0755);
    ASSERT_TRUE(LaunchProgram("client \"two words\" UPDATED"));
    for (int wait = 0; wait < 300 && ReadFile("args").empty(); ++wait) {
        usleep(10'000);
    }
    std::istringstream lines(ReadFile("args"));
    std::string args, input, session, pid;
    std::getline(lines, args);
    std::getline(lines, input);
    std::getline(lines, session);
    std::getline(lines, pid);
    EXPECT_EQ(args, "two words UPDATED");
    EXPECT_EQ(input, "/dev/null");
    EXPECT_EQ(session, pid);
}

TEST(LaunchProgram, ReportsWhatCannotStart) {
    TempDir dir;
    WriteFile("not-executable", "#!/bin/sh\n");
    EXPECT_FALSE(LaunchProgram("not-executable UPDATED"));
    EXPECT_FALSE(LaunchProgram("./missing UPDATED"));
    EXPECT_FALSE(LaunchProgram("   "));
}

}  // namespace
}  // namespace qm::app
