#include "app/update_app.h"

#include <windows.h>

#include <cstdio>
#include <optional>

#include "app/update_run.h"
#include "app/win/front_ends.h"
#include "app/win/stop_requests.h"
#include "net/win/message_loop.h"

namespace qm::app {
namespace {

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
    auto* const loop = dynamic_cast<net::MessageLoop*>(&run.loop());
    std::optional<ConsoleStopRequests> stopRequests;
    if (loop != nullptr) {
        stopRequests.emplace(*loop, [&run] { run.Cancel(); });
    }
    return run.Run();
}

}  // namespace qm::app
