#include "app/qt/message_box.h"

#include <QApplication>
#include <QEvent>
#include <QFontMetrics>
#include <QScreen>
#include <QStyle>

#include <algorithm>

#include "app/qt/title_and_close_box.h"

namespace qm::app::qt {
namespace {

constexpr int kTitleBarHeightsForIconAndButtons = 3;

}  // namespace

MessageBox::MessageBox(QString const& caption, QString const& text, QWidget* parent)
    : QMessageBox(QMessageBox::NoIcon, caption, text, QMessageBox::Ok, parent) {
    setTextFormat(Qt::PlainText);
    setWindowModality(Qt::ApplicationModal);
    setDefaultButton(QMessageBox::Ok);
    setEscapeButton(QMessageBox::Ok);
    // Last: Qt writes the window's kind anew when its modality changes.
    AskForTitleAndCloseBoxOnly(*this);
}

int MessageBox::CaptionWidth() const {
    QFont bold = QApplication::font();
    bold.setBold(true);
    int const titleBar = style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, this);
    int const wanted = QFontMetrics(bold).horizontalAdvance(windowTitle()) +
                       kTitleBarHeightsForIconAndButtons * titleBar;
    QScreen const* screen = this->screen();
    if (screen == nullptr) {
        return wanted;
    }
    // The frame is known once the window manager has framed the box, or where the platform can
    // tell it before.
    int const frame = frameGeometry().width() - width();
    return std::min(wanted, screen->availableGeometry().width() - frame);
}

// The standard box sets its size when it is shown and again on every layout request; the width
// is raised after each. It was placed for its own width when first shown, so it then moves left
// by half of what it gained, to stay where the standard box would be centred.
bool MessageBox::event(QEvent* event) {
    bool const handled = QMessageBox::event(event);
    if (event->type() == QEvent::Show || event->type() == QEvent::LayoutRequest) {
        WidenForCaption(event->type() == QEvent::Show);
    }
    return handled;
}

void MessageBox::WidenForCaption(bool keepCentre) {
    int const needed = CaptionWidth();
    int const gained = needed - width();
    if (gained <= 0) {
        return;
    }
    setFixedWidth(needed);
    if (keepCentre) {
        move(OnScreen(x() - gained / 2), y());
    }
}

// A left edge that keeps the whole box inside the screen's available area.
int MessageBox::OnScreen(int left) const {
    QScreen const* screen = this->screen();
    if (screen == nullptr) {
        return left;
    }
    QRect const area = screen->availableGeometry();
    return std::max(area.left(), std::min(left, area.right() + 1 - frameGeometry().width()));
}

}  // namespace qm::app::qt
