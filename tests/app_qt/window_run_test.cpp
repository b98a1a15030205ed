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
#include "scripted_update_server.h"
#include "support/temp_dir.h"
#include "test_addresses.h"
#include "window_observer.h"

namespace qm::app::qt::test {
namespace {

using qm::test::ReadFile;
using qm::test::TempDir;
using qm::test::WriteFile;
using update::ExitStatus;
using namespace std::chrono_literals;

// Runs one update in the window, with `observer` attached to it.
ExitStatus RunInWindow(WindowObserver& observer) {
    return RunUpdate([&observer](int wakeFd) {
        auto frontEnd = std::make_unique<QtFrontEnd>(wakeFd);
        observer.Attach(frontEnd->window());
        return frontEnd;
    });
}

void Configure(char const* server) {
    WriteFile("upd.ini", std::string("[GENERAL]\nSERVER=") + server + "\n");
}

// Escape as the user presses it: to the widget with the focus, from where the window gets it.
void PressEscape(UpdateWindow& window) {
    QWidget* target = window.focusWidget() != nullptr ? window.focusWidget() : &window;
    QTest::keyClick(target, Qt::Key_Escape);
}

// WELCOME, login, announcement and the first list: the updater is then walking "quillmesh.ini".
bool LogIn(ServerConnection& side) {
    if (!side.Send(Welcome())) {
        return false;
    }
    std::optional<Bytes> login = side.Expect(0, kLogin, 279, "LoginMessage");
    if (!login || !side.Expect(0, kServerQuery, 19, "ServerQuery")) {
        return false;
    }
    if (Word(*login, 3) != kClientId || Word(*login, 7) != kPeerId ||
        Text(*login, 19, 32) != "FENWARDIX" || Text(*login, 151, 128) != "Uploader") {
        side.Fail("the login does not carry the ids, the network word and the client name");
    }
    if (!side.Send(ServerAnnouncement())) {
        return false;
    }
    std::optional<Bytes> list = side.Expect(4, kListRequest, 79, "ListRequest");
    if (!list) {
        return false;
    }
    if (Text(*list, 15, 64) != "quillmesh.ini") {
        side.Fail("the first list asked for is " + Text(*list, 15, 64));
    }
    return side.Send(FileDescription(0, 1, "", "", 0)) &&
           side.Expect(4, kAck, 83, "AckMessage after the begin").has_value();
}

// Offers `path` with a checksum that differs from the local copy; true once the updater asks for
// the file and its first chunk.
bool OfferChangedFile(ServerConnection& side, std::string const& path, std::uint32_t crc) {
    return side.Send(FileDescription(1, 2, path, path, crc)) &&
           side.Expect(4, kFileRequest, 415, "FileRequest") &&
           side.Expect(4, kChunkRequest, 419, "ChunkRequest for chunk 0");
}

bool SendChunk(ServerConnection& side, std::uint32_t index, Bytes const& data) {
    if (!side.Send(DataChunk(index, data))) {
        return false;
    }
    std::optional<Bytes> request = side.Expect(4, kChunkRequest, 419, "ChunkRequest");
    if (request && Word(*request, 15) != index + 1) {
        side.Fail("chunk " + std::to_string(Word(*request, 15)) + " requested after chunk " +
                  std::to_string(index));
        return false;
    }
    return request.has_value();
}

void ExpectNoServerFailures(ScriptedUpdateServer& server) {
    server.Release();
    server.Join();
    for (std::string const& failure : server.Failures()) {
        ADD_FAILURE() << "server: " << failure;
    }
}

std::filesystem::path ScreenshotPath() {
    return std::filesystem::path(QM_TEST_OUTPUT_DIR) / "update-window-download.png";
}

TEST(WindowRun, ShowsTheDownloadAndEscapeCancels) {
    TempDir dir;
    Configure(kDownloadThenEscape);
    std::atomic<bool> midDownload{false};
    ScriptedUpdateServer server(kDownloadThenEscape, [&midDownload](ServerConnection& side) {
        if (!LogIn(side) || !OfferChangedFile(side, "data/town.map", 0x12345678)) {
            return;
        }
        if (!side.Send(FileSize("data/town.map", 5000)) || !SendChunk(side, 0, Bytes(2027, 'a')) ||
            !SendChunk(side, 1, Bytes(2027, 'b'))) {
            return;
        }
        midDownload = true;
        if (!side.ClosedByPeer(30s)) {
            side.Fail("the updater kept the connection after the cancel");
        }
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

    ExitStatus const status = RunInWindow(observer);

    EXPECT_EQ(status, ExitStatus::Cancelled);
    EXPECT_TRUE(observer.acted());
    EXPECT_TRUE(observer.sawVisibleWindow());
    ASSERT_FALSE(observer.statuses().empty());
    EXPECT_EQ(observer.statuses().front(), "Unconnected");
    EXPECT_EQ(observer.statuses().back(), "file:data/town.map 5000 bytes...");
    EXPECT_EQ(observer.progress().front(), 0);
    EXPECT_EQ(observer.progress().back(), 40);
    EXPECT_EQ(observer.transfers().front(), "");
    ASSERT_EQ(boxes.boxes().size(), 1u);
    SeenBox const& box = boxes.boxes().front();
    EXPECT_EQ(box.caption, "Program exit");
    EXPECT_EQ(box.text, "The user has canceled the operation.");
    EXPECT_EQ(box.icon, QMessageBox::NoIcon);
    EXPECT_EQ(box.buttons, std::vector<std::string>{"OK"});
    EXPECT_TRUE(box.modal);
    EXPECT_EQ(box.parent, observer.window());
    EXPECT_TRUE(box.parentVisible);
    EXPECT_TRUE(screenshotError.isEmpty()) << screenshotError.toStdString();
    EXPECT_TRUE(std::filesystem::exists(ScreenshotPath()));
    ExpectNoServerFailures(server);
    // The download did not finish: the local file was never written.
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "data/town.map"));
}

TEST(WindowRun, CompletesADownloadAndEndsWithTheSuccessBox) {
    TempDir dir;
    Configure(kCompleteRun);
    Bytes contents(3000);
    for (std::size_t i = 0; i < contents.size(); ++i) {
        contents[i] = static_cast<std::uint8_t>(i * 7 + 3);
    }
    ScriptedUpdateServer server(kCompleteRun, [&contents](ServerConnection& side) {
        if (!LogIn(side) || !OfferChangedFile(side, "maps/town.map", Crc32(contents))) {
            return;
        }
        Bytes const first(contents.begin(), contents.begin() + kChunkSize);
        Bytes const rest(contents.begin() + kChunkSize, contents.end());
        if (!side.Send(FileSize("maps/town.map", 3000)) || !SendChunk(side, 0, first) ||
            !SendChunk(side, 1, rest) || !side.Send(DataChunk(2, {}))) {
            return;
        }
        std::optional<Bytes> ack = side.Expect(4, kAck, 83, "AckMessage after the download");
        if (ack && Word(*ack, 79) != 2) {
            side.Fail("the acknowledgement carries file token " + std::to_string(Word(*ack, 79)));
        }
        if (ack) {
            side.Send(ListSummary(0, "quillmesh.ini", "", true));
            side.WaitForRelease();
        }
    });
    BoxDismisser boxes;
    WindowObserver observer;

    ExitStatus const status = RunInWindow(observer);

    EXPECT_EQ(status, ExitStatus::Completed);
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes().front().caption, "Update successfull.");
    EXPECT_EQ(boxes.boxes().front().text, "Click \"OK\" to exit.");
    EXPECT_EQ(observer.statuses().back(), "Operation complete...");
    EXPECT_EQ(observer.transfers().back(), "4054 bytes received  (100 %)");
    EXPECT_EQ(observer.progress().back(), 100);
    std::string const written = ReadFile(dir.path() / "maps/town.map");
    EXPECT_EQ(written, std::string(contents.begin(), contents.end()));
    ExpectNoServerFailures(server);
}

TEST(WindowRun, TheCloseBoxCancelsWithoutClosingTheWindow) {
    TempDir dir;
    Configure(kCloseBoxBeforeConnect);  // nothing listens there; the run ends before connecting
    BoxDismisser boxes;
    WindowObserver observer;
    observer.When([](UpdateWindow& window) { return window.isVisible(); },
                  [](UpdateWindow& window) {
                      // As the window system reports a click on the close box.
                      window.windowHandle()->close();
                  });

    ExitStatus const status = RunInWindow(observer);

    EXPECT_EQ(status, ExitStatus::Cancelled);
    EXPECT_TRUE(observer.acted());
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes().front().caption, "Program exit");
    EXPECT_TRUE(boxes.boxes().front().parentVisible);
    EXPECT_EQ(observer.statuses(), std::vector<std::string>{"Unconnected"});
}

TEST(WindowRun, NoAnnouncementEndsWithTheResponseTimer) {
    TempDir dir;
    Configure(kNoAnnouncement);
    ScriptedUpdateServer server(kNoAnnouncement, [](ServerConnection& side) {
        if (side.Send(Welcome()) && side.Expect(0, kLogin, 279, "LoginMessage") &&
            side.Expect(0, kServerQuery, 19, "ServerQuery")) {
            side.WaitForRelease();
        }
    });
    BoxDismisser boxes;
    WindowObserver observer;

    ExitStatus const status = RunInWindow(observer);

    EXPECT_EQ(status, ExitStatus::Network);
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes().front().caption, "Network Error");
    EXPECT_EQ(boxes.boxes().front().text, "no response from the server");
    EXPECT_EQ(observer.statuses().back(), "connection succesfull");
    ExpectNoServerFailures(server);
}

}  // namespace
}  // namespace qm::app::qt::test
