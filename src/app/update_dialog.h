// The update window's controller: reads ./upd.ini, starts the connection one second after the
// window opens, shows status and progress for the session, counts errors, and ends every run
// either with a message box or with the launch of the client program. It owns the run's update
// session and the connection that feeds it; it knows nothing of how the window is drawn
// (UpdateView) or of the loop's implementation (EventLoop).
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <string_view>

#include "app/run_settings.h"
#include "app/update_view.h"
#include "base/directory_lock.h"
#include "net/event_loop.h"
#include "net/portwell.h"
#include "net/timer.h"
#include "update/ending.h"
#include "update/session_window.h"
#include "update/update_connection.h"
#include "update/update_session.h"

namespace qm::app {

inline constexpr auto kResponseDelay = std::chrono::milliseconds(5000);
inline constexpr auto kConnectDelay = std::chrono::milliseconds(1000);
// The wait before the first new connection after a loss; it doubles for each try in a row, up
// to the longest, and each wait is shortened at random by up to half, so that many updaters cut
// off together do not come back together.
inline constexpr auto kFirstReconnectWait = std::chrono::seconds(1);
inline constexpr auto kLongestReconnectWait = std::chrono::seconds(30);

// Takes the run's lock on a directory: the system's lock, unless a test brings its own.
using RunLockTaker = std::function<base::DirectoryLock::Attempt(std::string const& directory)>;

class UpdateDialog final : public update::SessionWindow {
  public:
    UpdateDialog(net::EventLoop& loop, net::SocketLayer& layer, UpdateView& view,
                 RunLockTaker takeRunLock = base::DirectoryLock::TryLock);

    // Runs once before the window is shown: takes the run's lock on the current directory,
    // starts the socket layer, installs the connection's handlers, reads the configuration and
    // starts the connect timer.
    void OnOpen();
    void StartConnect();
    // The cancel command.
    void Abort();

    void ShowStatus(std::string_view text) override;
    void ShowTransfer(std::string_view text) override;
    void SetProgress(int percent) override;
    void EndWithMessage(update::Ending const& ending) override;
    void FinishRun() override;
    void RaiseErrorCount() override;
    void StartResponseTimer() override;
    void StopResponseTimer() override;
    bool ConnectAgain() override;
    void NoteProgress() override { triesInARow_ = 0; }
    bool CanComplete() const override { return !ended() && errorCount_ == 0; }

    bool LaunchProgram(std::string const& commandLine);

    bool closeRequested() const { return closeRequested_; }
    // Decided by the first ending of the run.
    update::ExitStatus exitStatus() const {
        return exitStatus_.value_or(update::ExitStatus::Cancelled);
    }
    int errorCount() const { return errorCount_; }

  private:
    // The run's ending has been chosen: the first one decides everything.
    bool ended() const { return exitStatus_.has_value(); }
    void RequestClose();
    void SettleExitStatus(update::ExitStatus status);
    // Shows how long the wait for the next connection still lasts, and connects at its end.
    void CountDownToReconnect();

    net::EventLoop& loop_;
    net::SocketLayer& layer_;
    UpdateView& view_;
    RunLockTaker takeRunLock_;
    update::UpdateSession session_{*this};
    update::UpdateConnection connection_{loop_, layer_, session_};
    net::Timer connectTimer_{loop_};
    net::Timer responseTimer_{loop_};
    net::Timer reconnectTimer_{loop_};

    std::optional<base::DirectoryLock> runLock_;  // held on the current directory for the run
    RunSettings settings_;
    int errorCount_ = 0;
    unsigned connections_ = 0;  // made in this run
    unsigned triesInARow_ = 0;  // new connections since the run last moved forward
    net::EventLoop::Clock::time_point reconnectAt_{};
    std::mt19937 random_{std::random_device{}()};
    bool closeRequested_ = false;
    std::optional<update::ExitStatus> exitStatus_;
};

}  // namespace qm::app
