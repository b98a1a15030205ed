// Whole runs in the real update window, against a scripted update server on loopback: what the
// window shows while files come in, and how the run ends.
#include <gtest/gtest.h>

#include <QDir>
#include <QTest>
#include <QWindow>

#include <atomic>
#include <filesystem>
#include <memory>

#include "app/qt/qt_front_end.h"
#include "app/update_app.h"
#include "box_dismisser.h"
#include "support/conversation.h"
#include "support/crc32.h"
#include "support/random_bytes.h"
#include "support/scripted_server.h"
#include "support/temp_dir.h"
#include "window_observer.h"

namespace qm::app::qt::test {
namespace {

using ::testing::AssertionResult;
using update::ExitStatus;
using namespace std::chrono_literals;
using namespace qm::test;

// The WELCOME comes from one peer, everything else from the update server.
constexpr qm::test::Peers kPeers{
    .client = 0x01020300, .welcomeSender = 0x2A, .server = 0x777, .fileSender = 0x777};

// Runs one update in the window, with `observer` attached to it.
ExitStatus RunInWindow(WindowObserver& observer) {
    return RunUpdate([&observer](int wakeFd) {
        auto frontEnd = std::make_unique<QtFrontEnd>(wakeFd);
        observer.Attach(frontEnd->window());
        return frontEnd;
    });
}

void Configure(TestAddress server) {
    WriteFile("upd.ini", "[GENERAL]\nSERVER=" + LoopbackAddress(server) + "\n");
}

// Escape as the user presses it: to the widget with the focus, from where the window gets it.
void PressEscape(UpdateWindow& window) {
    QWidget* target = window.focusWidget() != nullptr ? window.focusWidget() : &window;
    QTest::keyClick(target, Qt::Key_Escape);
}

// Runs one update in the window, with `observer` attached and its boxes dismissed: the run ends
// with `exit`, the window's last status is `status`, and exactly one message box was shown, with
// this caption and text.
void ExpectRunEnding(WindowObserver& observer, ExitStatus exit, std::string const& status,
                     std::string const& caption, std::string const& text) {
    BoxDismisser boxes;
    EXPECT_EQ(RunInWindow(observer), exit);
    EXPECT_EQ(observer.statuses().back(), status);
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes().front().caption, caption);
    EXPECT_EQ(boxes.boxes().front().text, text);
}

std::filesystem::path ScreenshotPath() {
    return std::filesystem::path(QM_TEST_OUTPUT_DIR) / "update-window-download.png";
}

TEST(WindowRun, ShowsTheDownloadAndEscapeCancels) {
    TempDir dir;
    Configure(TestAddress::DownloadThenEscape);
    std::atomic<bool> midDownload{false};
    ServerThread server(LoopbackAddress(TestAddress::DownloadThenEscape),
                        [&midDownload](ScriptedServer& side, ServerThread&) -> AssertionResult {
                            Conversation talk(side, kPeers);
                            if (auto opened = talk.OpenList(1); !opened) {
                                return opened;
                            }
                            std::string const name = "data/town.map";
                            AssertionResult sent = talk.OfferChanged(2, name, name, 0x12345678);
                            sent = sent ? talk.SendFileSize(name, 5000) : sent;
                            sent = sent ? talk.SendChunk(name, 0, Bytes(2027, 'a')) : sent;
                            sent = sent ? talk.SendChunk(name, 1, Bytes(2027, 'b')) : sent;
                            if (!sent) {
                                return sent;
                            }
                            midDownload = true;
                            return side.ExpectClosed(30s) << " after the cancel";
                        });

    BoxDismisser boxes;
    WindowObserver observer;
    QString screenshotError;
    std::filesystem::remove(ScreenshotPath());
    observer.When(
        [&midDownload](UpdateWindow& window) {
            return midDownload.load() &&
                   window.transferLine().text() == "2027 bytes received  (40 %)";
        },
        [&screenshotError](UpdateWindow& window) {
            QDir().mkpath(QString::fromStdString(
                std::filesystem::path(ScreenshotPath()).parent_path().string()));
            if (!window.grab().save(QString::fromStdString(ScreenshotPath().string()))) {
                screenshotError = "the screenshot could not be saved";
            }
            PressEscape(window);
        });
    // A run that never gets there is cancelled all the same, so that the test ends.
    QTimer giveUp;
    giveUp.setSingleShot(true);
    QObject::connect(&giveUp, &QTimer::timeout, [&observer] {
        if (!observer.acted() && observer.window() != nullptr) {
            ADD_FAILURE() << "the download was not shown in time";
            PressEscape(const_cast<UpdateWindow&>(*observer.window()));
        }
    });
    giveUp.start(40000);

    EXPECT_EQ(RunInWindow(observer), ExitStatus::Cancelled);
    EXPECT_TRUE(observer.acted());
    EXPECT_TRUE(observer.sawVisibleWindow());
    ASSERT_FALSE(observer.statuses().empty());
    EXPECT_EQ(observer.statuses().front(), "Unconnected");
    EXPECT_EQ(observer.statuses().back(), "file:data/town.map 5000 bytes...");
    EXPECT_EQ(observer.progress().front(), 0);
    EXPECT_EQ(observer.progress().back(), 40);
    EXPECT_EQ(observer.transfers().front(), "");
    ExpectOneStandardBox(boxes, "Program exit", "The user has canceled the operation.",
                         observer.window());
    EXPECT_TRUE(screenshotError.isEmpty()) << screenshotError.toStdString();
    EXPECT_TRUE(std::filesystem::exists(ScreenshotPath()));
    EXPECT_TRUE(server.Succeeded());
    // The download did not finish: the local file was never written.
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "data/town.map"));
}

TEST(WindowRun, CompletesADownloadAndEndsWithTheSuccessBox) {
    TempDir dir;
    Configure(TestAddress::CompleteRun);
    Bytes const contents = PatternBytes(3000, 3);
    ServerThread server(LoopbackAddress(TestAddress::CompleteRun),
                        [&contents](ScriptedServer& side, ServerThread& thread) -> AssertionResult {
                            Conversation talk(side, kPeers);
                            std::string const name = "maps/town.map";
                            AssertionResult done = talk.OpenList(1);
                            done = done ? talk.OfferChanged(2, name, name, ReferenceCrc32(contents))
                                        : done;
                            // 2027 and 973 bytes, the empty chunk, and the acknowledgement of
                            // token 2.
                            done = done ? talk.SendFile(name, contents, 2) : done;
                            done = done ? talk.Finish() : done;
                            thread.WaitForRelease();
                            return done;
                        });
    WindowObserver observer;
    ExpectRunEnding(observer, ExitStatus::Completed, "Operation complete...", "Update successfull.",
                    "Click \"OK\" to exit.");
    EXPECT_EQ(observer.transfers().back(), "4054 bytes received  (100 %)");
    EXPECT_EQ(observer.progress().back(), 100);
    std::string const written = ReadFile(dir.path() / "maps/town.map");
    EXPECT_EQ(written, std::string(contents.begin(), contents.end()));
    EXPECT_TRUE(server.Succeeded());
}

TEST(WindowRun, TheCloseBoxCancelsWithoutClosingTheWindow) {
    TempDir dir;
    Configure(TestAddress::CloseBoxBeforeConnect);  // nothing listens there; the run ends before
                                                    // connecting
    BoxDismisser boxes;
    WindowObserver observer;
    observer.When([](UpdateWindow& window) { return window.isVisible(); },
                  [](UpdateWindow& window) {
                      // As the window system reports a click on the close box.
                      window.windowHandle()->close();
                  });

    EXPECT_EQ(RunInWindow(observer), ExitStatus::Cancelled);
    EXPECT_TRUE(observer.acted());
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes().front().caption, "Program exit");
    EXPECT_TRUE(boxes.boxes().front().parentVisible);
    EXPECT_EQ(observer.statuses(), std::vector<std::string>{"Unconnected"});
}

TEST(WindowRun, NoAnnouncementEndsWithTheResponseTimer) {
    TempDir dir;
    Configure(TestAddress::WindowNoAnnouncement);
    ServerThread server(LoopbackAddress(TestAddress::WindowNoAnnouncement),
                        [](ScriptedServer& side, ServerThread& thread) {
                            Conversation talk(side, kPeers);
                            AssertionResult const loggedIn = talk.LogIn();
                            thread.WaitForRelease();
                            return loggedIn;
                        });
    WindowObserver observer;
    ExpectRunEnding(observer, ExitStatus::Network, "connection succesfull", "Network Error",
                    "no response from the server");
    EXPECT_TRUE(server.Succeeded());
}

}  // namespace
}  // namespace qm::app::qt::test
