// The update window as the user sees it: its controls where the dialog-unit layout puts them,
// its texts, its icon, its place on the screen, and the three ways to give the cancel command.
#include "app/qt/update_window.h"

#include <gtest/gtest.h>

#include <QFontMetricsF>
#include <QGuiApplication>
#include <QImage>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QWindow>

#include <cmath>

#include "app/qt/clipped_line.h"
#include "app/qt/qt_view.h"
#include "event_wait.h"

namespace qm::app::qt::test {
namespace {

// Pixels of `units` dialog units, from the window font's own metrics.
struct Metrics {
    explicit Metrics(QFont const& font) {
        QFontMetricsF const metrics(font);
        averageWidth =
            metrics.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz") / 52;
        height = metrics.height();
    }
    double X(int units) const { return units * averageWidth / 4; }
    double Y(int units) const { return units * height / 8; }

    double averageWidth = 0;
    double height = 0;
};

// Within one pixel of the dialog-unit rectangle.
::testing::AssertionResult PlacedAt(QWidget const& widget, Metrics const& units, int x, int y,
                                    int width, int height) {
    QRect const actual = widget.geometry();
    double const expected[] = {units.X(x), units.Y(y), units.X(width), units.Y(height)};
    int const got[] = {actual.x(), actual.y(), actual.width(), actual.height()};
    for (int i = 0; i < 4; ++i) {
        if (std::abs(got[i] - expected[i]) > 1.0) {
            return ::testing::AssertionFailure()
                   << widget.objectName().toStdString() << " is at " << got[0] << "," << got[1]
                   << " " << got[2] << "x" << got[3] << "; expected " << expected[0] << ","
                   << expected[1] << " " << expected[2] << "x" << expected[3];
        }
    }
    return ::testing::AssertionSuccess();
}

// Whether the rectangle of `image` holds any pixel much darker than the window's background.
bool HasInk(QImage const& image, QRect const& area, QColor const& background) {
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            QColor const pixel = image.pixelColor(x, y);
            if (background.lightness() - pixel.lightness() > 80) {
                return true;
            }
        }
    }
    return false;
}

class UpdateWindowTest : public ::testing::Test {
  protected:
    UpdateWindow window;
    int cancels = 0;

    void SetUp() override {
        window.SetCancelCommand([this] { ++cancels; });
    }
    void Show() {
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    }
};

TEST_F(UpdateWindowTest, HasItsTitleFontAndFixedDialogUnitSize) {
    EXPECT_EQ(window.windowTitle(), "Checking your version ...");
    EXPECT_EQ(window.font().pointSize(), 8);
    EXPECT_EQ(window.font().styleHint(), QFont::SansSerif);
    Metrics const units(window.font());
    EXPECT_NEAR(window.width(), units.X(186), 1.0);
    EXPECT_NEAR(window.height(), units.Y(68), 1.0);
    EXPECT_EQ(window.minimumSize(), window.maximumSize());
    EXPECT_FALSE(window.windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(window.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(window.windowFlags() & Qt::WindowCloseButtonHint);
}

TEST_F(UpdateWindowTest, PlacesItsFourControlsInTemplateOrder) {
    Metrics const units(window.font());
    std::vector<QWidget*> children;
    for (QObject* child : window.children()) {
        if (auto* widget = qobject_cast<QWidget*>(child)) {
            children.push_back(widget);
        }
    }
    ASSERT_EQ(children.size(), 4u);
    EXPECT_EQ(children[0], &window.abortButton());
    EXPECT_EQ(children[1], &window.progressBar());
    EXPECT_EQ(children[2], &window.statusLine());
    EXPECT_EQ(children[3], &window.transferLine());

    EXPECT_TRUE(PlacedAt(window.abortButton(), units, 67, 49, 50, 14));
    EXPECT_TRUE(PlacedAt(window.progressBar(), units, 10, 35, 165, 10));
    EXPECT_TRUE(PlacedAt(window.statusLine(), units, 0, 9, 185, 10));
    EXPECT_TRUE(PlacedAt(window.transferLine(), units, 0, 22, 185, 10));
    // One line of the font fits into each text line.
    EXPECT_GE(window.statusLine().contentsRect().height(), QFontMetrics(window.font()).height());
}

TEST_F(UpdateWindowTest, StartsWithItsInitialTextsAndOnlyTheButtonTakesFocus) {
    EXPECT_EQ(window.abortButton().text(), "Abort !    :-(");
    EXPECT_FALSE(window.abortButton().isDefault());
    EXPECT_FALSE(window.abortButton().autoDefault());
    EXPECT_EQ(window.statusLine().text(), "Unconnected");
    EXPECT_EQ(window.transferLine().text(), "");
    EXPECT_EQ(window.progressBar().minimum(), 0);
    EXPECT_EQ(window.progressBar().maximum(), 100);
    EXPECT_EQ(window.progressBar().value(), 0);

    EXPECT_NE(window.abortButton().focusPolicy(), Qt::NoFocus);
    EXPECT_EQ(window.progressBar().focusPolicy(), Qt::NoFocus);
    EXPECT_EQ(window.statusLine().focusPolicy(), Qt::NoFocus);
    EXPECT_EQ(window.transferLine().focusPolicy(), Qt::NoFocus);
    Show();
    EXPECT_EQ(window.focusWidget(), &window.abortButton());
}

TEST_F(UpdateWindowTest, FramesTheStatusLineOnlyAndCentresBothLines) {
    EXPECT_EQ(window.statusLine().frameShape(), QFrame::Box);
    EXPECT_EQ(window.transferLine().frameShape(), QFrame::NoFrame);
    window.transferLine().SetLine("2027 bytes received  (40 %)");
    EXPECT_TRUE(window.statusLine().alignment() & Qt::AlignHCenter);
    EXPECT_TRUE(window.transferLine().alignment() & Qt::AlignHCenter);
    EXPECT_EQ(window.statusLine().textFormat(), Qt::PlainText);
    EXPECT_EQ(window.transferLine().textFormat(), Qt::PlainText);
}

TEST_F(UpdateWindowTest, CutsAStatusThatDoesNotFitInsteadOfWrappingIt) {
    Show();
    QRect const placed = window.statusLine().geometry();
    window.statusLine().SetLine(
        "file:maps/a/very/long/path/that/does/not/fit/into/the/status/line/at/all.map 5000 "
        "bytes... and more words after it");
    QTest::qWait(0);
    EXPECT_EQ(window.statusLine().geometry(), placed);
    EXPECT_FALSE(window.statusLine().wordWrap());
    EXPECT_FALSE(window.statusLine().Fits());
    // Its start stays readable: the text is cut at the right edge, not on both sides.
    EXPECT_TRUE(window.statusLine().alignment() & Qt::AlignLeft);

    QImage const image = window.grab().toImage();
    QColor const background = window.palette().color(QPalette::Window);
    EXPECT_TRUE(HasInk(image, window.statusLine().geometry().adjusted(1, 1, -1, -1), background));
    // Nothing of it shows in the (empty) transfer line below.
    EXPECT_FALSE(HasInk(image, window.transferLine().geometry(), background));
}

TEST_F(UpdateWindowTest, TheButtonEscapeAndTheCloseBoxGiveTheCancelCommand) {
    Show();
    QTest::mouseClick(&window.abortButton(), Qt::LeftButton);
    EXPECT_EQ(cancels, 1);
    QTest::keyClick(&window.abortButton(), Qt::Key_Escape);
    EXPECT_EQ(cancels, 2);
    // The close box: the window system asks the window to close.
    ASSERT_NE(window.windowHandle(), nullptr);
    EXPECT_FALSE(window.windowHandle()->close());
    EXPECT_EQ(cancels, 3);
    // Neither closes the window: the run ends it.
    EXPECT_TRUE(window.isVisible());
    // Enter is no command: there is no accept button.
    QTest::keyClick(&window.abortButton(), Qt::Key_Return);
    EXPECT_EQ(cancels, 3);
    EXPECT_TRUE(window.isVisible());
}

TEST_F(UpdateWindowTest, OpensAtTheCentreOfTheAvailableScreenArea) {
    QtView view(window, -1);
    view.Open();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QScreen const* screen = window.screen();
    ASSERT_NE(screen, nullptr);
    QPoint const centre = screen->availableGeometry().center();
    QPoint const windowCentre = window.frameGeometry().center();
    EXPECT_LE(std::abs(windowCentre.x() - centre.x()), 1);
    EXPECT_LE(std::abs(windowCentre.y() - centre.y()), 1);
    EXPECT_NE(window.frameGeometry().topLeft(), screen->availableGeometry().topLeft());
    view.Close();
    EXPECT_FALSE(window.isVisible());
}

TEST_F(UpdateWindowTest, CarriesTheProgramIconInBothSizes) {
    QIcon const icon = window.windowIcon();
    ASSERT_FALSE(icon.isNull());
    QList<QSize> const sizes = icon.availableSizes();
    EXPECT_TRUE(sizes.contains(QSize(16, 16)));
    EXPECT_TRUE(sizes.contains(QSize(32, 32)));
    // The yellow folder: its front panel in the upper middle of the image.
    QImage const image = icon.pixmap(QSize(32, 32)).toImage();
    ASSERT_EQ(image.size(), QSize(32, 32));
    QColor const folder = image.pixelColor(16, 14);
    EXPECT_GT(folder.red(), 200);
    EXPECT_GT(folder.green(), 160);
    EXPECT_LT(folder.blue(), 120);
    // The red connector below it.
    QColor const connector = image.pixelColor(12, 26);
    EXPECT_GT(connector.red(), 150);
    EXPECT_LT(connector.green(), 80);
}

}  // namespace
}  // namespace qm::app::qt::test
