// What the update window and its message boxes ask of the window manager: a title bar and a
// close box only, no minimise or maximise box. Their size is fixed by the widgets themselves,
// which is what takes away the resizing frame.
//
// Most window managers follow the window flags, which Qt passes on as Motif hints. Openbox never
// lets those hints remove its minimise button (nor, for a dialog of fixed size, its maximise
// button); it leaves both out only for helper windows, toolbars and menus. Under Openbox the
// windows are therefore declared toolbars as well, which keeps their title bar and close box,
// and they still take the focus when shown or clicked.
#pragma once

#include <Qt>

class QWidget;

namespace qm::app::qt {

inline constexpr Qt::WindowFlags kTitleAndCloseBox =
    Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint;

// Sets the flags and, under Openbox, the toolbar kind. Before the window is first shown, and
// after its modality is set: Qt declares the window's kind anew when its flags or modality change.
void AskForTitleAndCloseBoxOnly(QWidget& window);

}  // namespace qm::app::qt
