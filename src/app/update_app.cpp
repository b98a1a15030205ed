#include "app/update_app.h"

#include <unistd.h>

#include <csignal>

#include "app/update_dialog.h"
#include "base/signal_pipe.h"
#include "net/portwell.h"

namespace qm::app {
namespace {

// Everything one run owns, in the order it is built; destroyed in reverse, so that a download
// still under way removes its temporary file and the terminal is restored before exit.
class UpdateRun {
  public:
    explicit UpdateRun(FrontEndFactory const& makeFrontEnd)
        : frontEnd_(makeFrontEnd(signals_.fd())),
          loop_(frontEnd_->loop()),
          view_(frontEnd_->view()),
          layer_(loop_),
          dialog_(loop_, layer_, view_) {
        view_.SetCancelHandler([this] { dialog_.Abort(); });
        loop_.Watch(signals_.fd(), net::EventLoop::Interest::Readable, [this] {
            if (!signals_.Drain().empty()) {
                dialog_.Abort();
            }
        });
    }
    ~UpdateRun() { loop_.Forget(signals_.fd()); }
    UpdateRun(UpdateRun const&) = delete;
    UpdateRun& operator=(UpdateRun const&) = delete;

    update::ExitStatus Run() {
        dialog_.OnOpen();
        if (!dialog_.closeRequested()) {
            view_.Open();
            loop_.Run();
        }
        view_.Close();
        return dialog_.exitStatus();
    }

  private:
    // SIGINT, SIGTERM and SIGHUP (the terminal went away) are the cancel command. SIGPIPE is
    // ignored (sends use MSG_NOSIGNAL anyway), and so is SIGXFSZ: a file size limit must show as a
    // failed write, not kill the run in the middle of a download.
    base::SignalPipe signals_{{SIGINT, SIGTERM, SIGHUP}, {SIGPIPE, SIGXFSZ}};
    std::unique_ptr<FrontEnd> frontEnd_;
    net::EventLoop& loop_;
    UpdateView& view_;
    net::SocketLayer layer_;
    UpdateDialog dialog_;
};

}  // namespace

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
    UpdateRun run(makeFrontEnd);
    return run.Run();
}

}  // namespace qm::app
