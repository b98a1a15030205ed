// The front ends of Windows, both on the window's message loop: the update window (the dialog of
// template 1009) and plain lines on standard output.
#pragma once

#include <memory>

#include "app/front_end.h"

namespace qm::app {

// The update window; nothing when the desktop does not accept a window (under wine: no
// DISPLAY), in which case plain lines serve.
std::unique_ptr<FrontEnd> MakeDialogFrontEnd();

}  // namespace qm::app
