// One run of the updater: owns the socket layer, the client link, the update session and the
// window controller, shows them through a front end, and runs the window until it closes.
#pragma once

#include <functional>
#include <memory>

#include "app/front_end.h"
#include "update/ending.h"

namespace qm::app {

// Makes the front end of a run; given the descriptor that signals make readable.
using FrontEndFactory = std::function<std::unique_ptr<FrontEnd>(int wakeFd)>;

// `window` when there is one (the program was built with a window and a display works), else
// the terminal front end when standard output is a terminal, else plain lines.
FrontEndFactory ChooseFrontEnd(FrontEndFactory window = {});

// Runs one update in the current directory and returns the exit status of its first ending.
update::ExitStatus RunUpdate(FrontEndFactory const& makeFrontEnd);

}  // namespace qm::app
