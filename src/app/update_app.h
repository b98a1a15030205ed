// One run of the updater: owns the event loop, the socket layer, the client link, the update
// session, the window controller and its front end, and runs the window until it closes.
#pragma once

#include <memory>

#include "app/exit_status.h"
#include "app/update_view.h"

namespace qm::app {

enum class FrontEnd { Plain, Terminal };

// The terminal front end when standard output is a terminal, else plain lines.
FrontEnd ChooseFrontEnd();

// Runs one update in the current directory and returns the exit status of its first ending.
ExitStatus RunUpdate(FrontEnd frontEnd);

}  // namespace qm::app
