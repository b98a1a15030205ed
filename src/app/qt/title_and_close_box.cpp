#include "app/qt/title_and_close_box.h"

#include <QWidget>

#include "app/qt/x11_window_kind.h"

namespace qm::app::qt {
namespace {

constexpr char kOpenbox[] = "Openbox";

}  // namespace

void AskForTitleAndCloseBoxOnly(QWidget& window) {
    window.setWindowFlags(kTitleAndCloseBox);
    if (X11WindowManagerName() == kOpenbox) {
        DeclareX11Toolbar(window);
    }
}

}  // namespace qm::app::qt
