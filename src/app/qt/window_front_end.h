// How the program gets its window: free of Qt, so that the program's entry can ask for it.
#pragma once

#include "app/update_app.h"

namespace qm::app::qt {

// The factory of the window front end (which makes the program's QApplication) when a display
// can be used: DISPLAY or WAYLAND_DISPLAY is set and the window system accepts a connection.
// Empty otherwise. Must be called before the program starts any thread.
FrontEndFactory WindowFrontEndIfDisplay();

}  // namespace qm::app::qt
