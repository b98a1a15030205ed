// The front ends that run on the poll loop: plain lines and the terminal window.
#include <unistd.h>

#include <cstdio>

#include "app/front_end.h"
#include "app/plain_view.h"
#include "app/unix/terminal_view.h"
#include "net/unix/poll_event_loop.h"

namespace qm::app {
namespace {

class PlainFrontEnd final : public FrontEnd {
  public:
    PlainFrontEnd() : view_(stdout) {}
    net::EventLoop& loop() override { return loop_; }
    UpdateView& view() override { return view_; }

  private:
    net::PollEventLoop loop_;
    PlainView view_;
};

class TerminalFrontEnd final : public FrontEnd {
  public:
    explicit TerminalFrontEnd(int wakeFd)
        : view_(loop_, STDOUT_FILENO, isatty(STDIN_FILENO) ? STDIN_FILENO : -1, wakeFd) {}
    net::EventLoop& loop() override { return loop_; }
    UpdateView& view() override { return view_; }

  private:
    net::PollEventLoop loop_;
    TerminalView view_;
};

}  // namespace

std::unique_ptr<FrontEnd> MakePlainFrontEnd() {
    return std::make_unique<PlainFrontEnd>();
}

std::unique_ptr<FrontEnd> MakeTerminalFrontEnd(int wakeFd) {
    return std::make_unique<TerminalFrontEnd>(wakeFd);
}

}  // namespace qm::app
