// The window's view: texts and progress reach the controls, and a message box is the standard
// box with a caption, a text and an OK button, modal over the window, while the loop is held.
#include "app/qt/qt_view.h"
#include "net/timer.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <QMessageBox>
#include <QProgressBar>
#include <QTest>
#include <QTimer>

#include "app/qt/clipped_line.h"
#include "app/qt/qt_event_loop.h"
#include "app/qt/update_window.h"
#include "box_dismisser.h"
#include "event_wait.h"

namespace qm::app::qt::test {
namespace {

using namespace std::chrono_literals;

class QtViewTest : public ::testing::Test {
  protected:
    UpdateWindow window;
};

TEST_F(QtViewTest, TextsAndProgressGoToTheirControls) {
    QtView view(window, -1);
    view.ShowStatus("connecting...");
    view.ShowTransfer("2027 bytes received  (40 %)");
    view.SetProgress(40);
    EXPECT_EQ(window.statusLine().text(), "connecting...");
    EXPECT_EQ(window.transferLine().text(), "2027 bytes received  (40 %)");
    EXPECT_EQ(window.progressBar().value(), 40);
}

TEST_F(QtViewTest, ServerTextIsShownAsItIsNeverAsMarkup) {
    QtView view(window, -1);
    view.ShowStatus("Checking <b>data/caf\xc3\xa9.map</b> ...");
    EXPECT_EQ(window.statusLine().text(),
              QString::fromUtf8("Checking <b>data/caf\xc3\xa9.map</b> ..."));
    // Bytes that are no UTF-8 are kept one by one.
    view.ShowStatus("file:\xe9t\xe9.map");
    EXPECT_EQ(window.statusLine().text(), QString::fromLatin1("file:\xe9t\xe9.map"));
}

TEST_F(QtViewTest, TheCancelCommandReachesTheController) {
    QtView view(window, -1);
    int cancels = 0;
    view.SetCancelHandler([&] { ++cancels; });
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QTest::keyClick(&window, Qt::Key_Escape);
    EXPECT_EQ(cancels, 1);
}

TEST_F(QtViewTest, AMessageBoxIsTheStandardBoxWithoutIcon) {
    QtView view(window, -1);
    view.Open();
    BoxDismisser boxes;
    view.ShowMessageBox("Disk access error", "Cannot rename the file: <maps/town.map> ...");
    ExpectOneStandardBox(boxes, "Disk access error", "Cannot rename the file: <maps/town.map> ...",
                         &window);
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes().front().format, Qt::PlainText);
}

TEST_F(QtViewTest, TheWakeDescriptorDismissesAnOpenBox) {
    int ends[2];
    ASSERT_EQ(pipe2(ends, O_CLOEXEC | O_NONBLOCK), 0);
    QtView view(window, ends[0]);
    bool sawBox = false;
    QTimer::singleShot(50, [&] {
        sawBox = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()) != nullptr;
        EXPECT_EQ(write(ends[1], "s", 1), 1);
    });
    // Should the wake not work, the box is still dismissed, and the test fails.
    bool const dismissedByWake = [&] {
        BoxDismisser fallback;
        fallback.PauseFor(kStepTimeout);
        view.ShowMessageBox("Program exit", "The user has canceled the operation.");
        return fallback.boxes().empty();
    }();
    EXPECT_TRUE(sawBox);
    EXPECT_TRUE(dismissedByWake);
    close(ends[0]);
    close(ends[1]);
}

// The controller holds the loop around the box; the box's own nested loop must then deliver
// neither socket notifications nor timers, and both follow once the box is gone.
TEST_F(QtViewTest, NothingOfTheRunHappensWhileTheBoxIsOpen) {
    QtEventLoop loop;
    QtView view(window, -1);
    int ends[2];
    ASSERT_EQ(pipe2(ends, O_CLOEXEC | O_NONBLOCK), 0);
    std::vector<std::string> ran;
    loop.Watch(net::SocketHandle(ends[0]), net::EventLoop::Interest::Readable, [&] {
        ran.push_back("readable");
        loop.Forget(net::SocketHandle(ends[0]));
    });
    net::Timer timer(loop);
    timer.Start(10ms, [&] { ran.push_back("timer"); });

    std::vector<std::string> ranWhileOpen{"not looked at"};
    QTimer::singleShot(200, [&] {
        ranWhileOpen = ran;
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            box->accept();
        }
    });
    {
        net::ModalHold const hold(loop);
        EXPECT_EQ(write(ends[1], "x", 1), 1);
        BoxDismisser fallback;  // only if the accept above did not happen
        fallback.PauseFor(kStepTimeout);
        view.ShowMessageBox("Network error", "connection lost");
    }
    EXPECT_TRUE(ranWhileOpen.empty());

    net::Timer stopper(loop);
    stopper.Start(100ms, [&] { loop.Stop(); });
    loop.Run();
    std::sort(ran.begin(), ran.end());
    EXPECT_EQ(ran, (std::vector<std::string>{"readable", "timer"}));
    close(ends[0]);
    close(ends[1]);
}

}  // namespace
}  // namespace qm::app::qt::test
