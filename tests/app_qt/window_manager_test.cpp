// The update window as a desktop user sees it: the real program under a real window manager
// (openbox) on an X server of the test's own. What the window manager offers for the window,
// its close box ending the run, and each ending's box wide enough to show its whole caption.
#include <gtest/gtest.h>

#include <QApplication>

#include <atomic>
#include <filesystem>

#include "caption_width.h"
#include "managed_display.h"
#include "support/addresses.h"
#include "support/conversation.h"
#include "support/process.h"
#include "support/scripted_server.h"
#include "support/temp_dir.h"

namespace qm::app::qt::test {
namespace {

using namespace std::chrono_literals;
using namespace qm::test;

std::filesystem::path ScreenshotPath(char const* name) {
    return std::filesystem::path(QM_TEST_OUTPUT_DIR) / name;
}

std::string ServerLine(TestAddress server) {
    return "SERVER=" + LoopbackAddress(server) + "\n";
}

TEST(UnderAWindowManager, TheWindowHasATitleBarAndACloseBoxOnlyAndTheCloseBoxCancels) {
    ManagedDisplay display;
    if (display.name().empty()) {
        GTEST_SKIP() << "the X server did not start";
    }
    ASSERT_TRUE(display.managed()) << "openbox did not start (scripts/setup installs it)";
    TempDir dir;
    WriteFile("upd.ini", "[GENERAL]\n" + ServerLine(TestAddress::ManagedWindow));
    std::atomic<bool> loggedIn{false};
    ServerThread server(LoopbackAddress(TestAddress::ManagedWindow),
                        [&loggedIn](ScriptedServer& side, ServerThread&) {
                            Conversation talk(side);
                            if (auto opened = talk.OpenList(1); !opened) {
                                return opened;
                            }
                            loggedIn = true;
                            return side.ExpectClosed(30s) << " after the close box";
                        });
    Process updater({.argv = {UpdaterBinary()}, .environment = display.Environment()});
    ASSERT_TRUE(WaitUntil([&] { return loggedIn.load() || server.finished(); }));

    std::optional<ManagedWindow> const window = display.WaitForWindow("Checking your version ...");
    ASSERT_TRUE(window);
    EXPECT_TRUE(window->Allows("CLOSE"));
    EXPECT_TRUE(window->Allows("MOVE"));
    for (char const* refused :
         {"MINIMIZE", "MAXIMIZE_HORZ", "MAXIMIZE_VERT", "RESIZE", "FULLSCREEN"}) {
        EXPECT_FALSE(window->Allows(refused)) << refused;
    }
    EXPECT_TRUE(display.Screenshot(*window, ScreenshotPath("window-under-openbox.png")));

    // The close box, as the user clicks it: the run is cancelled as by the Abort button.
    display.Click(window->CloseBox());
    std::optional<ManagedWindow> const box = display.WaitForWindow("Program exit");
    ASSERT_TRUE(box);
    EXPECT_FALSE(box->Allows("MINIMIZE"));
    EXPECT_GE(box->client.width(), CaptionWidth("Program exit"));
    display.PressKey("Return");
    EXPECT_EQ(updater.ExitStatus(kStepTimeout), 5);
    EXPECT_EQ(updater.Output(), "");
    EXPECT_TRUE(server.Succeeded());
}

struct Ending {
    std::string caption;
    std::optional<std::string> settings;  // the lines of upd.ini's [GENERAL] section
    std::optional<TestAddress> server;    // where a server leads the run to its end
    int status;
    char const* screenshot;  // nullptr for none
};

TEST(UnderAWindowManager, EveryEndingsBoxShowsItsWholeCaption) {
    Ending const endings[] = {
        {"Configuration error:", std::nullopt, std::nullopt, 2, nullptr},
        {"Network error", ServerLine(TestAddress::ManagedNoServer), std::nullopt, 3, nullptr},
        {"Update successfull.", ServerLine(TestAddress::ManagedSuccess),
         TestAddress::ManagedSuccess, 0, "box-update-successful.png"},
        {"Update successfull, but cannot launch:",
         ServerLine(TestAddress::ManagedCannotLaunch) + "EXE=./not-installed\n",
         TestAddress::ManagedCannotLaunch, 6, nullptr},
    };
    ManagedDisplay display;
    if (display.name().empty()) {
        GTEST_SKIP() << "the X server did not start";
    }
    ASSERT_TRUE(display.managed()) << "openbox did not start (scripts/setup installs it)";
    for (Ending const& ending : endings) {
        SCOPED_TRACE(ending.caption);
        TempDir dir;
        if (ending.settings) {
            WriteFile("upd.ini", "[GENERAL]\n" + *ending.settings);
        }
        std::optional<ServerThread> server;
        if (ending.server) {
            server.emplace(LoopbackAddress(*ending.server),
                           [](ScriptedServer& side, ServerThread&) {
                               Conversation talk(side);
                               auto const opened = talk.OpenList(1);
                               return opened ? talk.Finish() : opened;
                           });
        }
        Process updater({.argv = {UpdaterBinary()}, .environment = display.Environment()});

        std::optional<ManagedWindow> const box = display.WaitForWindow(ending.caption);
        ASSERT_TRUE(box);
        EXPECT_FALSE(box->Allows("MINIMIZE"));
        EXPECT_GE(box->client.width(), CaptionWidth(QString::fromStdString(ending.caption)))
            << "the title bar cuts the caption";
        if (ending.screenshot != nullptr) {
            EXPECT_TRUE(display.Screenshot(*box, ScreenshotPath(ending.screenshot)));
        }
        display.PressKey("Return");
        EXPECT_EQ(updater.ExitStatus(kStepTimeout), ending.status);
        if (server) {
            EXPECT_TRUE(server->Succeeded());
        }
    }
}

}  // namespace
}  // namespace qm::app::qt::test
