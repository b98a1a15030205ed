// Starting the client program on Windows: the command line as the C runtime splits it again,
// the program found in the current directory with or without ".exe", and one that cannot start.
#include "app/program_launch.h"

#include <gtest/gtest.h>
#include <windows.h>

// After windows.h, which it needs.
#include <shellapi.h>

#include <chrono>
#include <thread>

#include "base/win/system_path.h"
#include "win/scratch.h"

namespace qm::app {
namespace {

// The words the system's own splitting (that of the C runtime) finds in `line`.
std::vector<std::string> SystemSplit(std::string const& line) {
    int count = 0;
    std::wstring const wide = base::win::Widen("program " + line);
    LPWSTR* const words = ::CommandLineToArgvW(wide.c_str(), &count);
    std::vector<std::string> split;
    for (int i = 1; i < count; ++i) {
        split.push_back(base::win::Narrow(words[i]));
    }
    ::LocalFree(words);
    return split;
}

TEST(WindowsLaunch, EveryWordComesBackAsItWasGiven) {
    std::vector<std::vector<std::string>> const cases = {
        {"UPDATED"},
        {"C:\\Program Files\\quillmesh\\quillmesh.exe", "UPDATED"},
        {"say \"hello\"", "UPDATED"},
        {"ends in a backslash\\", "x"},
        {"two\\\\", "\\\"quoted\\\""},
        {"", "empty before"},
        {"tab\there"},
    };
    for (std::vector<std::string> const& words : cases) {
        EXPECT_EQ(SystemSplit(JoinCommandLine(words)), words) << JoinCommandLine(words);
    }
}

TEST(WindowsLaunch, FindsTheProgramInTheCurrentDirectoryWithOrWithoutItsExtension) {
    test::win::Scratch const scratch;
    test::win::WriteText("quillmesh.exe", "MZ");
    test::win::WriteText("tools/helper.exe", "MZ");
    EXPECT_EQ(FindProgram("quillmesh"), ".\\quillmesh.exe");
    EXPECT_EQ(FindProgram("quillmesh.exe"), ".\\quillmesh.exe");
    EXPECT_EQ(FindProgram("./quillmesh"), "./quillmesh.exe");
    EXPECT_EQ(FindProgram("tools\\helper"), "tools\\helper.exe");
    EXPECT_EQ(FindProgram("missing"), "");
    EXPECT_EQ(FindProgram(""), "");
}

TEST(WindowsLaunch, StartsTheProgramAndSaysWhenItCannot) {
    test::win::Scratch const scratch;
    // The stand-in for the client program is built beside the test programs.
    std::wstring self(32768, L'\0');
    self.resize(::GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size())));
    std::filesystem::path const recorder =
        std::filesystem::path(self).parent_path() / "quillmesh-launch-recorder.exe";
    std::filesystem::copy_file(recorder, "quillmesh.exe");
    std::string const launches = (scratch.path() / "launches.log").string();
    ::SetEnvironmentVariableA("QM_LAUNCHES", launches.c_str());
    ASSERT_TRUE(LaunchProgram("quillmesh \"with blank\" UPDATED"));
    auto const deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (test::win::ReadText(launches).empty() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_EQ(test::win::ReadText(launches),
              "quillmesh started with arguments: with blank UPDATED\n");
    EXPECT_FALSE(LaunchProgram("no-such-program UPDATED"));
    EXPECT_FALSE(LaunchProgram(""));
}

}  // namespace
}  // namespace qm::app
