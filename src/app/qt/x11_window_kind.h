// The little the window needs of X11 itself: the name the running window manager gives itself
// (EWMH), and a window's declared kind (_NET_WM_WINDOW_TYPE). Off X11 there is neither.
#pragma once

#include <string>

class QWidget;

namespace qm::app::qt {

// "Openbox", for example; empty off X11 or when no window manager says its name.
std::string X11WindowManagerName();

// Declares `window` a toolbar window, a dialog for window managers that do not know toolbars.
// Creates the native window; before the window is first shown. Off X11 it does nothing.
void DeclareX11Toolbar(QWidget& window);

}  // namespace qm::app::qt
