// The ending's message box: as wide as its caption needs in the title bar, whatever its text,
// never wider than the screen, still centred over the window, and asking for a title bar and a
// close box only.
#include "app/qt/message_box.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QScreen>
#include <QTest>

#include "app/qt/update_window.h"
#include "caption_width.h"
#include "event_wait.h"

namespace qm::app::qt::test {
namespace {

using namespace std::chrono_literals;

// Shows `box` and lets the layout requests that follow the show run.
::testing::AssertionResult Shown(MessageBox& box) {
    box.show();
    if (!QTest::qWaitForWindowExposed(&box)) {
        return ::testing::AssertionFailure() << "the box was not shown";
    }
    SpinFor(100ms);
    return ::testing::AssertionSuccess();
}

TEST(MessageBox, IsAsWideAsEveryEndingsCaptionNeedsAndKeepsItsText) {
    struct Ending {
        char const* caption;
        char const* text;
    };
    Ending const endings[] = {
        {"Update successfull.", "Click \"OK\" to exit."},
        {"Update successfull, but cannot launch:", "./quillmesh UPDATED"},
        {"Upload failed", "2 errors occured during the upload process, please try again !"},
        {"Configuration error:", "The server address is unreachable..."},
        {"Network error", "connection lost"},
        {"Network Error", "no response from the server"},
        {"Disk access error", "Cannot write the file: maps/town.map"},
        {"Program exit", "The user has canceled the operation."},
    };
    for (Ending const& ending : endings) {
        SCOPED_TRACE(ending.caption);
        MessageBox box(ending.caption, ending.text, nullptr);
        ASSERT_TRUE(Shown(box));
        EXPECT_GE(box.width(), CaptionWidth(ending.caption));
        EXPECT_EQ(box.text(), ending.text);
        EXPECT_EQ(box.windowTitle(), ending.caption);
        // A box whose text is wider than its caption keeps the standard box's width.
        EXPECT_GE(box.width(), QFontMetrics(box.font()).horizontalAdvance(ending.text));
    }
}

TEST(MessageBox, IsNeverWiderThanTheScreen) {
    QString const caption(400, QChar('W'));
    MessageBox box(caption, "connection lost", nullptr);
    ASSERT_TRUE(Shown(box));
    ASSERT_NE(box.screen(), nullptr);
    QRect const area = box.screen()->availableGeometry();
    EXPECT_GT(CaptionWidth(caption), area.width());
    int const frame = box.frameGeometry().width() - box.width();
    EXPECT_LE(box.width(), area.width());
    EXPECT_GE(box.width(), area.width() - frame);
    EXPECT_GE(box.frameGeometry().left(), area.left());
}

TEST(MessageBox, StaysCentredOverTheWindow) {
    UpdateWindow window;
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    MessageBox box("Update successfull, but cannot launch:", "./a", &window);
    ASSERT_TRUE(Shown(box));
    ASSERT_GE(box.width(), CaptionWidth(box.windowTitle()));
    EXPECT_LE(std::abs(box.geometry().center().x() - window.geometry().center().x()), 1);
}

TEST(MessageBox, AsksForATitleBarAndACloseBoxOnly) {
    MessageBox box("Program exit", "The user has canceled the operation.", nullptr);
    Qt::WindowFlags const flags = box.windowFlags();
    EXPECT_EQ(flags & Qt::WindowType_Mask, Qt::Dialog);
    EXPECT_TRUE(flags & Qt::WindowTitleHint);
    EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
    ASSERT_TRUE(Shown(box));
    EXPECT_EQ(box.minimumSize(), box.maximumSize());
}

}  // namespace
}  // namespace qm::app::qt::test
