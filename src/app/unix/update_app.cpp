#include "app/update_app.h"

#include <unistd.h>

#include <csignal>

#include "app/update_run.h"
#include "base/unix/signal_pipe.h"

namespace qm::app {

FrontEndFactory ChooseFrontEnd(FrontEndFactory window) {
    if (window) {
        return window;
    }
    if (isatty(STDOUT_FILENO)) {
        return MakeTerminalFrontEnd;
    }
    return [](int) { return MakePlainFrontEnd(); };
}

update::ExitStatus RunUpdate(FrontEndFactory const& makeFrontEnd) {
    // SIGINT, SIGTERM and SIGHUP (the terminal went away) are the cancel command. SIGPIPE is
    // ignored (sends use MSG_NOSIGNAL anyway), and so is SIGXFSZ: a file size limit must show as a
    // failed write, not kill the run in the middle of a download. Destroyed in reverse, so that a
    // download still under way removes its temporary file and the terminal is restored before
    // exit.
    base::SignalPipe signals{{SIGINT, SIGTERM, SIGHUP}, {SIGPIPE, SIGXFSZ}};
    std::unique_ptr<FrontEnd> const frontEnd = makeFrontEnd(signals.fd());
    UpdateRun run(*frontEnd);
    net::SocketHandle const wake(signals.fd());
    run.loop().Watch(wake, net::EventLoop::Interest::Readable, [&] {
        if (!signals.Drain().empty()) {
            run.Cancel();
        }
    });
    update::ExitStatus const status = run.Run();
    run.loop().Forget(wake);
    return status;
}

}  // namespace qm::app
