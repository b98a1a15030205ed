// One run of the updater on a front end: owns the socket layer and the window controller (with
// the update session and its connection), and runs the window until it closes. Where the
// platform's stop requests come from (signals, a console's Ctrl-C) is update_app.cpp's business;
// they arrive here as Cancel.
#pragma once

#include "app/front_end.h"
#include "app/update_dialog.h"
#include "net/portwell.h"
#include "update/ending.h"

namespace qm::app {

class UpdateRun {
  public:
    explicit UpdateRun(FrontEnd& frontEnd);
    UpdateRun(UpdateRun const&) = delete;
    UpdateRun& operator=(UpdateRun const&) = delete;

    // Opens the window (when the configuration lets the run begin), runs it until it closes, and
    // returns the exit status of the run's first ending.
    update::ExitStatus Run();

    // The cancel command, as from the Abort button.
    void Cancel() { dialog_.Abort(); }

    net::EventLoop& loop() { return loop_; }

  private:
    net::EventLoop& loop_;
    UpdateView& view_;
    net::SocketLayer layer_;
    UpdateDialog dialog_;
};

}  // namespace qm::app
