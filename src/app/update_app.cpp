#include "app/update_app.h"

#include <unistd.h>

#include <cstdio>

#include "app/plain_view.h"
#include "app/signal_pipe.h"
#include "app/terminal_view.h"
#include "app/update_dialog.h"
#include "net/poll_event_loop.h"
#include "net/portwell.h"
#include "update/update_session.h"

namespace qm::app {
namespace {

// Everything one run owns, in the order it is built; destroyed in reverse, so that a download
// still under way removes its temporary file and the terminal is restored before exit.
class UpdateRun {
  public:
    explicit UpdateRun(FrontEnd frontEnd)
        : layer_(loop_),
          session_(layer_, link_),
          view_(MakeView(frontEnd)),
          dialog_(loop_, layer_, link_, session_, *view_) {
        view_->SetCancelHandler([this] { dialog_.Abort(); });
        loop_.Watch(signals_.fd(), net::EventLoop::Interest::Readable, [this] {
            if (signals_.Drain()) {
                dialog_.Abort();
            }
        });
    }
    ~UpdateRun() { loop_.Forget(signals_.fd()); }
    UpdateRun(UpdateRun const&) = delete;
    UpdateRun& operator=(UpdateRun const&) = delete;

    ExitStatus Run() {
        dialog_.OnOpen();
        if (!dialog_.closeRequested()) {
            view_->Open();
            loop_.Run();
        }
        view_->Close();
        return dialog_.exitStatus();
    }

  private:
    std::unique_ptr<UpdateView> MakeView(FrontEnd frontEnd) {
        if (frontEnd == FrontEnd::Terminal) {
            int keyboard = isatty(STDIN_FILENO) ? STDIN_FILENO : -1;
            return std::make_unique<TerminalView>(loop_, STDOUT_FILENO, keyboard, signals_.fd());
        }
        return std::make_unique<PlainView>(stdout);
    }

    SignalPipe signals_;
    net::PollEventLoop loop_;
    net::SocketLayer layer_;
    net::ClientLink link_;
    update::UpdateSession session_;
    std::unique_ptr<UpdateView> view_;
    UpdateDialog dialog_;
};

}  // namespace

FrontEnd ChooseFrontEnd() {
    return isatty(STDOUT_FILENO) ? FrontEnd::Terminal : FrontEnd::Plain;
}

ExitStatus RunUpdate(FrontEnd frontEnd) {
    UpdateRun run(frontEnd);
    return run.Run();
}

}  // namespace qm::app
