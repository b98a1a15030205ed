// The update window's controller: reads ./upd.ini, starts the connection one second after the
// window opens, shows status and progress for the session, counts errors, and ends every run
// either with a message box or with the launch of the client program. It knows nothing of how
// the window is drawn (UpdateView) or of the loop's implementation (EventLoop).
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "app/exit_status.h"
#include "app/update_view.h"
#include "net/client_link.h"
#include "net/event_loop.h"
#include "update/session_window.h"
#include "update/update_session.h"

namespace qm::app {

inline constexpr int kResponseTimer = 300;
inline constexpr int kConnectTimer = 301;
inline constexpr auto kResponseDelay = std::chrono::milliseconds(5000);
inline constexpr auto kConnectDelay = std::chrono::milliseconds(1000);
inline constexpr char kConfigFile[] = "./upd.ini";
inline constexpr char kConfigSection[] = "GENERAL";

class UpdateDialog final : public update::SessionWindow {
  public:
    UpdateDialog(net::EventLoop& loop, net::SocketLayer& layer, net::ClientLink& link,
                 update::UpdateSession& session, UpdateView& view);

    // Runs once before the window is shown: starts the socket layer, installs the session's
    // handlers, reads the configuration and starts the connect timer.
    void OnOpen();
    void OnTimer(int id);
    void StartConnect();
    // The cancel command.
    void Abort();

    void ShowStatus(std::string_view text) override;
    void ShowTransfer(std::string_view text) override;
    void SetProgress(int percent) override;
    void EndWithMessage(std::string_view caption, std::string_view text) override;
    void FinishRun() override;
    void StartResponseTimer() override;
    void StopResponseTimer() override;

    bool LaunchProgram(std::string const& commandLine);

    bool closeRequested() const { return closeRequested_; }
    // Decided by the first ending of the run.
    ExitStatus exitStatus() const { return exitStatus_.value_or(kExitCancelled); }

    std::optional<std::string> launchProgram;  // the EXE value

  private:
    void RequestClose();
    void SettleExitStatus(ExitStatus status);

    net::EventLoop& loop_;
    net::SocketLayer& layer_;
    net::ClientLink& link_;
    update::UpdateSession& session_;
    UpdateView& view_;
    bool closeRequested_ = false;
    std::optional<ExitStatus> exitStatus_;
};

}  // namespace qm::app
