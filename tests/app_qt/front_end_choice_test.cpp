// Which front end the program takes: the window only where a display really works; otherwise
// the program goes on without it, never crashing or hanging on a missing or broken display.
#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <filesystem>

#include "app/unix/window_plugin.h"
#include "base/unix/unique_fd.h"
#include "event_wait.h"
#include "support/conversation.h"
#include "support/process.h"
#include "support/scripted_server.h"
#include "support/temp_dir.h"
#include "virtual_display.h"

namespace qm::app::qt::test {
namespace {

using namespace std::chrono_literals;
using namespace qm::test;
// A display number that no X server of this machine uses.
std::string UnusedDisplay() {
    for (int number = 4093; number > 4000; --number) {
        std::string const name = std::to_string(number);
        if (!std::filesystem::exists("/tmp/.X11-unix/X" + name) &&
            !std::filesystem::exists("/tmp/.X" + name + "-lock")) {
            return ":" + name;
        }
    }
    return ":4093";
}

// Accepts X connections on 127.0.0.N, port 6000 (display N:0), and never answers them.
class SilentDisplayServer {
  public:
    explicit SilentDisplayServer(std::string const& address)
        : fd_(qm::test::ListenOn(address, 4, 6000)) {}
    bool listening() const { return fd_.valid(); }

  private:
    base::UniqueFd fd_;
};

// DISPLAY and Qt's platform as given (no value: unset), and no Wayland.
EnvironmentChanges Screen(std::optional<std::string> display, std::optional<std::string> platform) {
    return {{"DISPLAY", std::move(display)},
            {"WAYLAND_DISPLAY", std::nullopt},
            {"QT_QPA_PLATFORM", std::move(platform)}};
}

// Asks ProbeWindow in a fresh process with this environment, as the program does before it has
// a QApplication (this process has one already).
std::optional<bool> DisplayWorksWith(EnvironmentChanges const& changes,
                                     Millis timeout = kDisplayProbeTimeout) {
    Process probe({.argv = {"/proc/self/exe", "--probe-display", std::to_string(timeout.count())},
                   .environment = changes});
    std::optional<int> const status = probe.ExitStatus(timeout + kStepTimeout);
    if (!status || (*status != 0 && *status != 1)) {
        return std::nullopt;
    }
    return *status == 0;
}

TEST(DisplayProbe, NoDisplayNamedMeansNoWindow) {
    EXPECT_EQ(DisplayWorksWith(Screen(std::nullopt, "offscreen")), false);
}

TEST(DisplayProbe, ADisplayWithoutServerMeansNoWindow) {
    EXPECT_EQ(DisplayWorksWith(Screen(UnusedDisplay(), "xcb")), false);
}

TEST(DisplayProbe, ADisplayThatNeverAnswersIsGivenUp) {
    std::string const address = LoopbackAddress(TestAddress::SilentDisplay);
    SilentDisplayServer silent(address);
    ASSERT_TRUE(silent.listening());
    EXPECT_EQ(DisplayWorksWith(Screen(address + ":0", "xcb"), 1000ms), false);
}

TEST(DisplayProbe, ARunningXServerIsUsed) {
    VirtualDisplay display;
    ASSERT_FALSE(display.name().empty()) << "Xvfb did not start (scripts/setup installs it)";
    EXPECT_EQ(DisplayWorksWith(Screen(display.name(), "xcb")), true);
}

TEST(ProgramFrontEnd, WithoutAWorkingDisplayTheProgramPrintsPlainLines) {
    TempDir dir;  // no upd.ini: the run ends at once
    Process updater(
        {.argv = {UpdaterBinary()}, .environment = Screen(UnusedDisplay(), std::nullopt)});
    ASSERT_TRUE(updater.started());
    EXPECT_EQ(updater.ExitStatus(kStepTimeout), 2);
    EXPECT_EQ(updater.Output(),
              "box: [Configuration error:] The server address is unreachable...\n");
}

// The program finds its window module relative to itself; one that is missing or cannot be
// loaded costs the window, said in one line, and the run goes on in plain lines.
TEST(ProgramFrontEnd, AMissingOrBrokenWindowModuleIsNotedAndPlainLinesServe) {
    namespace fs = std::filesystem;
    fs::path const relative = fs::relative(QM_WINDOW_PLUGIN_PATH, UpdaterBinary().parent_path());
    for (bool const broken : {false, true}) {
        SCOPED_TRACE(broken ? "broken" : "missing");
        TempDir dir;  // no upd.ini: the run ends at once
        fs::create_directories("install/bin");
        fs::copy_file(UpdaterBinary(), "install/bin/quillmesh-updater");
        fs::path const plugin = fs::path("install/bin") / relative;
        if (broken) {
            WriteFile(plugin.string(), "not a module");
        }
        Process updater({.argv = {"/bin/sh", "-c", "exec \"$0\" 2>&1",
                                  fs::absolute("install/bin/quillmesh-updater").string()},
                         .environment = Screen(UnusedDisplay(), std::nullopt)});
        ASSERT_TRUE(updater.started());
        EXPECT_EQ(updater.ExitStatus(kStepTimeout), 2);
        std::string const output = updater.Output();
        std::string const note = output.substr(0, output.find('\n') + 1);
        EXPECT_TRUE(note.starts_with("quillmesh-updater: no update window (")) << output;
        EXPECT_NE(note.find(broken ? "quillmesh-updater-window.so" : "not installed"),
                  std::string::npos)
            << output;
        EXPECT_EQ(output.substr(note.size()),
                  "box: [Configuration error:] The server address is unreachable...\n");
    }
}

TEST(ProgramFrontEnd, OnARealDisplayTheProgramRunsInItsWindow) {
    VirtualDisplay display;
    ASSERT_FALSE(display.name().empty()) << "Xvfb did not start (scripts/setup installs it)";
    TempDir dir;
    std::string const address = LoopbackAddress(TestAddress::ProgramWithWindow);
    WriteFile("upd.ini", "[GENERAL]\nSERVER=" + address + "\n");
    std::atomic<bool> loggedIn{false};
    ServerThread server(address, [&loggedIn](ScriptedServer& side, ServerThread&) {
        qm::test::Conversation talk(side);
        if (auto login = talk.LogIn(); !login) {
            return login;
        }
        loggedIn = true;
        return side.ExpectClosed(30s) << " on SIGTERM";
    });
    Process updater(
        {.argv = {UpdaterBinary()}, .environment = Screen(display.name(), std::nullopt)});
    ASSERT_TRUE(updater.started());
    ASSERT_TRUE(WaitUntil([&] { return loggedIn.load() || server.finished(); }));

    // The first signal cancels the run: the link is closed and the box "Program exit" opens; the
    // second dismisses the box.
    updater.Signal(SIGTERM);
    EXPECT_TRUE(WaitUntil([&] { return server.finished(); }));
    updater.Signal(SIGTERM);
    EXPECT_EQ(updater.ExitStatus(kStepTimeout), 5);
    // Everything was shown in the window; the plain front end would have printed its lines.
    EXPECT_EQ(updater.Output(), "");
    EXPECT_TRUE(server.Succeeded());
}

}  // namespace
}  // namespace qm::app::qt::test
