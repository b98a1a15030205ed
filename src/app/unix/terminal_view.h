// The update window drawn in place on a terminal: title, status line, transfer line, progress bar
// and the "Abort !    :-(" button. Escape and Ctrl-C give the cancel command. A message box is
// drawn over the window and waits for Enter, Space or Escape. Redraws are limited to about 30 a
// second; the terminal's settings are restored when the view is destroyed.
#pragma once

#include <termios.h>

#include <chrono>
#include <string>

#include "app/update_view.h"
#include "net/event_loop.h"
#include "net/timer.h"

namespace qm::app {

class TerminalView final : public UpdateView {
  public:
    // `out` is the terminal's descriptor; `in` its keyboard (-1 when there is none); `wakeFd` a
    // descriptor that, when readable, also dismisses a waiting box (the signal pipe).
    TerminalView(net::EventLoop& loop, int out, int in, int wakeFd);
    ~TerminalView() override;
    TerminalView(TerminalView const&) = delete;
    TerminalView& operator=(TerminalView const&) = delete;

    void Open() override;
    void ShowStatus(std::string_view text) override;
    void ShowTransfer(std::string_view text) override;
    void SetProgress(int percent) override;
    void ShowMessageBox(std::string_view caption, std::string_view text) override;
    void Close() override;

  private:
    void Changed();
    void Draw();
    void DrawLines(std::string const& lines);
    void OnKeys();
    void WaitForDismissal();
    void Write(std::string_view bytes);

    net::EventLoop& loop_;
    int out_;
    int in_;
    int wakeFd_;
    bool rawMode_ = false;
    struct termios savedMode_ {};
    bool open_ = false;
    bool drawn_ = false;
    net::Timer redrawTimer_{loop_};
    std::chrono::steady_clock::time_point lastDraw_{};
    std::string status_ = "Unconnected";
    std::string transfer_;
    int progress_ = 0;
};

}  // namespace qm::app
