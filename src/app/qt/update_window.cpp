#include "app/qt/update_window.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QWindow>

#include "app/qt/clipped_line.h"
#include "app/qt/program_icon.h"
#include "app/qt/title_and_close_box.h"
#include "app/qt/window_layout.h"

namespace qm::app::qt {
namespace {

// Parented widgets belong to the window, which deletes them.
QPushButton* MakeAbortButton(QWidget* window, DialogUnits const& units) {
    auto* button = new QPushButton(QString::fromLatin1(kAbortText), window);
    button->setObjectName("abortButton");
    button->setAutoDefault(false);
    button->setDefault(false);
    button->setFocusPolicy(Qt::StrongFocus);
    button->setGeometry(units.Rect(kAbortButtonPlace));
    return button;
}

QProgressBar* MakeProgressBar(QWidget* window, DialogUnits const& units) {
    auto* bar = new QProgressBar(window);
    bar->setObjectName("progressBar");
    bar->setRange(kProgressMinimum, kProgressMaximum);
    bar->setValue(kProgressMinimum);
    bar->setTextVisible(false);
    bar->setFocusPolicy(Qt::NoFocus);
    bar->setGeometry(units.Rect(kProgressBarPlace));
    return bar;
}

ClippedLine* MakeLine(QWidget* window, DialogUnits const& units, char const* name,
                      DialogRect const& place) {
    auto* line = new ClippedLine(window);
    line->setObjectName(name);
    line->setGeometry(units.Rect(place));
    return line;
}

}  // namespace

QFont WindowFont() {
    QFont font(QStringLiteral("Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSize(kWindowFontPoints);
    return font;
}

UpdateWindow::UpdateWindow()
    : units_(WindowFont()),
      abortButton_(MakeAbortButton(this, units_)),
      progressBar_(MakeProgressBar(this, units_)),
      statusLine_(MakeLine(this, units_, "statusLine", kStatusLinePlace)),
      transferLine_(MakeLine(this, units_, "transferLine", kTransferLinePlace)) {
    setWindowTitle(QString::fromLatin1(kWindowTitle));
    setWindowIcon(ProgramIcon());
    setFont(WindowFont());
    setFixedSize(units_.Size(kWindowWidth, kWindowHeight));
    setSizeGripEnabled(false);
    AskForTitleAndCloseBoxOnly(*this);

    statusLine_->setFrameStyle(QFrame::Box | QFrame::Plain);
    statusLine_->setLineWidth(1);
    statusLine_->SetLine(QString::fromLatin1(kInitialStatus));

    QObject::connect(abortButton_, &QPushButton::clicked, this, [this] { GiveCancel(); });
    abortButton_->setFocus(Qt::OtherFocusReason);
}

// The whole window, frame included, goes to the centre. The frame is known where the platform
// can tell it before the window is shown (else the window itself is centred).
void UpdateWindow::CenterOnScreen() {
    create();
    QScreen const* screen =
        this->screen() != nullptr ? this->screen() : QGuiApplication::primaryScreen();
    if (screen == nullptr) {
        return;
    }
    QMargins const frame = windowHandle() != nullptr ? windowHandle()->frameMargins() : QMargins();
    QRect outer(QPoint(0, 0), size().grownBy(frame));
    outer.moveCenter(screen->availableGeometry().center());
    move(outer.topLeft());
}

void UpdateWindow::reject() {
    GiveCancel();
}

void UpdateWindow::closeEvent(QCloseEvent* event) {
    event->ignore();
    GiveCancel();
}

void UpdateWindow::GiveCancel() {
    if (cancel_) {
        cancel_();
    }
}

}  // namespace qm::app::qt
