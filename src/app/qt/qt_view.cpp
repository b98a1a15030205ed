#include "app/qt/qt_view.h"

#include <QProgressBar>
#include <QSocketNotifier>
#include <QString>

#include "app/qt/clipped_line.h"
#include "app/qt/display_text.h"
#include "app/qt/message_box.h"
#include "app/qt/update_window.h"

namespace qm::app::qt {

QtView::QtView(UpdateWindow& window, int wakeFd) : window_(window), wakeFd_(wakeFd) {
    window_.SetCancelCommand([this] { Cancel(); });
}

void QtView::Open() {
    window_.CenterOnScreen();
    window_.show();
    window_.raise();
    window_.activateWindow();
}

void QtView::ShowStatus(std::string_view text) {
    window_.statusLine().SetLine(DisplayText(text));
}

void QtView::ShowTransfer(std::string_view text) {
    window_.transferLine().SetLine(DisplayText(text));
}

void QtView::SetProgress(int percent) {
    window_.progressBar().setValue(percent);
}

void QtView::ShowMessageBox(std::string_view caption, std::string_view text) {
    MessageBox box(DisplayText(caption), DisplayText(text), &window_);
    QSocketNotifier wake(QSocketNotifier::Read);
    if (wakeFd_ >= 0) {
        wake.setSocket(wakeFd_);
        QObject::connect(&wake, &QSocketNotifier::activated, &box, [&box] { box.accept(); });
        wake.setEnabled(true);
    }
    box.exec();
}

void QtView::Close() {
    window_.hide();
}

}  // namespace qm::app::qt
