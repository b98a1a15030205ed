// The stop requests of Windows, which act as the Abort button: a console's Ctrl-C and Ctrl-Break
// (and its closing, the user's logoff, the shutdown), and the end of the user's session
// (WM_QUERYENDSESSION, WM_ENDSESSION, which the update window receives).
//
// As a signal does on POSIX systems, a request while a message box is open ends the box as its OK
// button does, and the cancel itself is held with the rest of the run until the box has gone: the
// run's ending stays the one the box told of.
#pragma once

#include <windows.h>

#include <functional>

#include "net/win/message_loop.h"

namespace qm::app {

// Ends every message box that `thread` shows, as its OK button does; any thread may call it. The
// update window itself (the dialog with the progress bar) is left alone.
void DismissMessageBoxes(DWORD thread);

// A stop request for the run on `loop`: the open box ends, `cancel` runs on the loop once it is
// no longer held. Any thread may call it.
void RequestStop(net::MessageLoop& loop, std::function<void()> cancel);

// The console's stop requests for one run, while the object lives (one at a time).
class ConsoleStopRequests {
  public:
    ConsoleStopRequests(net::MessageLoop& loop, std::function<void()> cancel);
    ~ConsoleStopRequests();
    ConsoleStopRequests(ConsoleStopRequests const&) = delete;
    ConsoleStopRequests& operator=(ConsoleStopRequests const&) = delete;

    // What the console's handler does with `event` (on a thread of the system's); TRUE when it
    // was a stop request and was handed on. For tests, which cannot press Ctrl-C.
    static BOOL WINAPI Handle(DWORD event);

  private:
    net::MessageLoop& loop_;
    std::function<void()> cancel_;
};

}  // namespace qm::app
