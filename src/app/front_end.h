// A way of showing a run: the event loop that drives it and the view that draws it. The plain
// and terminal front ends run on the poll loop; a toolkit front end brings its own loop.
#pragma once

#include <memory>

#include "app/update_view.h"
#include "net/event_loop.h"

namespace qm::app {

class FrontEnd {
  public:
    virtual ~FrontEnd() = default;
    virtual net::EventLoop& loop() = 0;
    virtual UpdateView& view() = 0;
};

// `wakeFd` becomes readable when the run must stop waiting (the signal pipe); a terminal message
// box waits for it as well as for a key.
std::unique_ptr<FrontEnd> MakePlainFrontEnd();
std::unique_ptr<FrontEnd> MakeTerminalFrontEnd(int wakeFd);

}  // namespace qm::app
