#include "app/update_app.h"

#include <windows.h>

#include <atomic>
#include <cstdio>

#include "app/update_run.h"
#include "app/win/front_ends.h"
#include "net/win/message_loop.h"

namespace qm::app {
namespace {

// The run that a console's Ctrl-C or Ctrl-Break cancels; the handler runs on a thread of the
// system's and hands the cancel to the run's loop.
std::atomic<UpdateRun*> consoleTarget{nullptr};

BOOL WINAPI OnConsoleControl(DWORD event) {
    UpdateRun* const run = consoleTarget.load();
    auto* const loop = run != nullptr ? dynamic_cast<net::MessageLoop*>(&run->loop()) : nullptr;
    if (loop == nullptr) {
        return FALSE;
    }
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            loop->Post([run] { run->Cancel(); });
            return TRUE;
        default:
            return FALSE;
    }
}

// A program of the GUI subsystem started from a console has none of its own: it takes its
// parent's, so that Ctrl-C there reaches it, and writes its plain lines there when its standard
// output was not given to it otherwise.
void JoinParentConsole() {
    bool const outputGiven = ::GetStdHandle(STD_OUTPUT_HANDLE) != nullptr &&
                             ::GetStdHandle(STD_OUTPUT_HANDLE) != INVALID_HANDLE_VALUE;
    if (!::AttachConsole(ATTACH_PARENT_PROCESS)) {
        return;
    }
    if (!outputGiven) {
        std::FILE* reopened = nullptr;
        reopened = std::freopen("CONOUT$", "w", stdout);
        (void)reopened;
    }
}

// Registers the run for the console's stop requests while it lives.
class ConsoleStopRequests {
  public:
    explicit ConsoleStopRequests(UpdateRun& run) {
        consoleTarget.store(&run);
        ::SetConsoleCtrlHandler(&OnConsoleControl, TRUE);
    }
    ~ConsoleStopRequests() {
        ::SetConsoleCtrlHandler(&OnConsoleControl, FALSE);
        consoleTarget.store(nullptr);
    }
    ConsoleStopRequests(ConsoleStopRequests const&) = delete;
    ConsoleStopRequests& operator=(ConsoleStopRequests const&) = delete;
};

}  // namespace

FrontEndFactory ChooseFrontEnd(FrontEndFactory window) {
    if (window) {
        return window;
    }
    return [](int) {
        std::unique_ptr<FrontEnd> dialog = MakeDialogFrontEnd();
        return dialog ? std::move(dialog) : MakePlainFrontEnd();
    };
}

update::ExitStatus RunUpdate(FrontEndFactory const& makeFrontEnd) {
    JoinParentConsole();
    // Windows has no signals to wake the loop with: the console's requests come as posted
    // handlers (ConsoleStopRequests), the end of the session as a window message.
    std::unique_ptr<FrontEnd> const frontEnd = makeFrontEnd(-1);
    UpdateRun run(*frontEnd);
    ConsoleStopRequests const stopRequests(run);
    return run.Run();
}

}  // namespace qm::app
