// The program itself (quillmesh-updater.exe) in plain lines, as it runs with no desktop: the
// endings a test can bring about on its own end with the exit statuses and boxes of the Linux
// build (tests/support/lines.h). The cancel (5) comes as a console's Ctrl-Break, handed to the
// run as the console's handler hands it (wine delivers no console event to a program of the GUI
// subsystem), with the run in this process. The endings that need a server (0, 4, 6) are checked
// by the Linux end-to-end tests run against the .exe (the cross check); 1 follows from the
// window controller's own tests (app/update_dialog_test.cpp).
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <thread>

#include "app/update_app.h"
#include "app/win/stop_requests.h"
#include "base/directory_lock.h"
#include "support/addresses.h"
#include "support/lines.h"
#include "support/temp_dir.h"
#include "support/test_socket.h"

namespace qm::test {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// The .exe beside the test programs' folder, where the build puts it.
fs::path UpdaterProgram() {
    wchar_t self[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    return fs::path(self).parent_path().parent_path() / "src" / "app" / "quillmesh-updater.exe";
}

// The updater started in `directory` with its output going to a file there, in a process group
// of its own (the one a console's Ctrl-Break goes to); ended when the object goes.
class PlainRun {
  public:
    explicit PlainRun(fs::path const& directory) : output_(directory / "output.txt") {
        SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
        HANDLE const out = ::CreateFileW(output_.c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                         &inherited, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = out;
        startup.hStdError = out;
        std::wstring command = L"\"" + UpdaterProgram().wstring() + L"\"";
        started_ = ::CreateProcessW(UpdaterProgram().c_str(), command.data(), nullptr, nullptr,
                                    TRUE, CREATE_NEW_PROCESS_GROUP, nullptr, directory.c_str(),
                                    &startup, &process_) != 0;
        ::CloseHandle(out);
    }
    ~PlainRun() {
        if (started_) {
            ::TerminateProcess(process_.hProcess, 99);
            ::CloseHandle(process_.hThread);
            ::CloseHandle(process_.hProcess);
        }
    }
    PlainRun(PlainRun const&) = delete;
    PlainRun& operator=(PlainRun const&) = delete;

    bool started() const { return started_; }
    DWORD id() const { return process_.dwProcessId; }
    std::string Output() const { return ReadIfPresent(output_).value_or(""); }
    // Whether `line` was printed within `wait`.
    bool Printed(std::string const& line, std::chrono::milliseconds wait) const {
        auto const deadline = std::chrono::steady_clock::now() + wait;
        while (Output().find(line + "\n") == std::string::npos) {
            if (std::chrono::steady_clock::now() > deadline) {
                return false;
            }
            std::this_thread::sleep_for(50ms);
        }
        return true;
    }
    // The exit status; nothing when the program did not end within `wait`.
    std::optional<DWORD> ExitStatus(std::chrono::milliseconds wait) const {
        if (::WaitForSingleObject(process_.hProcess, static_cast<DWORD>(wait.count())) !=
            WAIT_OBJECT_0) {
            return std::nullopt;
        }
        DWORD status = 0;
        ::GetExitCodeProcess(process_.hProcess, &status);
        return status;
    }

  private:
    fs::path output_;
    PROCESS_INFORMATION process_{};
    bool started_ = false;
};

struct Case {
    char const* name;
    std::string settings;  // upd.ini
    int status;
    std::string box;
};

TEST(WindowsPlainRun, EndingsGiveTheExitStatusesOfTheLinuxBuild) {
    std::string const refusing = LoopbackAddress(TestAddress::WindowsPlainStatusRefused);
    Case const cases[] = {
        {"no server address", "[GENERAL]\r\nEXE=client\r\n", kExitConfiguration,
         Box("Configuration error:", "The server address is unreachable...")},
        {"nothing listens", "[GENERAL]\r\nSERVER=" + refusing + "\r\n", kExitNetwork,
         Box("Network error", "unable to join the server :-(")},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir const dir({.enter = false, .prefix = "qm-plain-run"});
        ASSERT_TRUE(WriteFile(dir.path() / "upd.ini", c.settings));
        PlainRun run(dir.path());
        ASSERT_TRUE(run.started());
        EXPECT_EQ(run.ExitStatus(60s), std::optional<DWORD>(c.status)) << run.Output();
        EXPECT_NE(run.Output().find(c.box + "\n"), std::string::npos) << run.Output();
    }
}

TEST(WindowsPlainRun, AnotherUpdateInTheDirectoryEndsWithSeven) {
    TempDir const dir({.enter = false, .prefix = "qm-plain-run"});
    std::string const address = LoopbackAddress(TestAddress::WindowsPlainStatusRefused);
    ASSERT_TRUE(WriteFile(dir.path() / "upd.ini", "[GENERAL]\r\nSERVER=" + address + "\r\n"));
    base::DirectoryLock::Attempt const held = base::DirectoryLock::TryLock(dir.path().string());
    ASSERT_TRUE(std::holds_alternative<base::DirectoryLock>(held));
    PlainRun run(dir.path());
    ASSERT_TRUE(run.started());
    EXPECT_EQ(run.ExitStatus(60s), std::optional<DWORD>(kExitAlreadyRunning)) << run.Output();
    EXPECT_NE(run.Output().find(
                  Box("Program exit", "Another update is running in this directory.") + "\n"),
              std::string::npos)
        << run.Output();
}

TEST(WindowsPlainRun, ACtrlBreakEndsTheRunAsAbortWithFive) {
    TempDir const dir;
    std::string const silent = LoopbackAddress(TestAddress::WindowsPlainStatusSilent);
    ASSERT_TRUE(WriteFile("upd.ini", "[GENERAL]\r\nSERVER=" + silent + "\r\nTIMEOUT=20\r\n"));
    TestSocket const listener = OpenListener(silent, kPort);
    ASSERT_TRUE(listener.valid());
    TestSocket accepted;  // kept until the run is over: the server says nothing
    BOOL handled = FALSE;
    std::thread console([&] {
        accepted = AcceptWithin(listener, 20s);
        if (accepted.valid()) {
            handled = app::ConsoleStopRequests::Handle(CTRL_BREAK_EVENT);
        }
    });
    update::ExitStatus const status = app::RunUpdate([](int) { return app::MakePlainFrontEnd(); });
    console.join();
    EXPECT_TRUE(accepted.valid());
    EXPECT_TRUE(handled);
    EXPECT_EQ(static_cast<int>(status), kExitCancelled);
}

}  // namespace
}  // namespace qm::test
