#include "app/update_dialog.h"

#include "app/program_launch.h"
#include "app/tls_module.h"
#include "update/commit_journal.h"

namespace qm::app {

namespace endings = update::endings;

UpdateDialog::UpdateDialog(net::EventLoop& loop, net::SocketLayer& layer, UpdateView& view,
                           RunLockTaker takeRunLock)
    : loop_(loop), layer_(layer), view_(view), takeRunLock_(std::move(takeRunLock)) {}

void UpdateDialog::OnOpen() {
    // One run at a time in a client directory: a second one would fight the first over its files.
    base::DirectoryLock::Attempt taken = takeRunLock_(".");
    if (auto const* refusal = std::get_if<base::DirectoryLock::Refusal>(&taken)) {
        EndWithMessage(
            refusal->heldElsewhere
                ? endings::AlreadyRunning()
                : endings::DiskAccessError("Cannot lock the directory: " + refusal->reason));
        return;
    }
    runLock_.emplace(std::move(std::get<base::DirectoryLock>(taken)));
    // A commit that an earlier run did not finish is finished first, whatever else happens.
    if (std::string problem;
        update::CompleteInterruptedCommit(problem) == update::Recovery::Failed) {
        EndWithMessage(endings::DiskAccessError(problem));
        return;
    }
    layer_.SocketStartup();
    connection_.InstallHandlers();
    std::variant<RunSettings, update::Ending> read = ReadRunSettings();
    if (auto const* ending = std::get_if<update::Ending>(&read)) {
        EndWithMessage(*ending);
        return;
    }
    settings_ = std::move(std::get<RunSettings>(read));
    if (!settings_.pins.empty()) {
        std::shared_ptr<net::SecureChannelFactory> tls = LoadPinnedTls(settings_.pins, stderr);
        if (!tls) {
            EndWithMessage(endings::ServerNotVerified());
            return;
        }
        // The server's name goes along in the handshake; a written address does not.
        bool const written = net::LiteralEndpoint(settings_.serverAddress, 0).has_value();
        layer_.UseTls(std::move(tls), written ? std::string() : settings_.serverAddress);
    }
    session_.SetRequestWindow(settings_.requestWindow);
    session_.SetApplyWholeRun(settings_.applyWholeRun);
    connection_.SetStallLimit(settings_.stallLimit);
    errorCount_ = 0;
    SetProgress(0);
    connectTimer_.Start(kConnectDelay, [this] { StartConnect(); });
}

void UpdateDialog::StartConnect() {
    if (connection_.linked()) {
        connection_.ResetLink();
        ShowStatus("connection closed");
        return;
    }
    ShowStatus("connecting...");
    ++connections_;
    if (connection_.Connect(settings_.serverAddress) == -1) {
        session_.OnUnreachable();
    }
}

void UpdateDialog::Abort() {
    if (closeRequested_ || ended()) {
        return;
    }
    connection_.ResetLink();
    RaiseErrorCount();
    EndWithMessage(endings::Cancelled());
}

// Once a close has been requested the window is on its way out: what the rest of the current
// step reports is no longer shown.
void UpdateDialog::ShowStatus(std::string_view text) {
    if (!closeRequested_) {
        view_.ShowStatus(text);
    }
}

void UpdateDialog::ShowTransfer(std::string_view text) {
    if (!closeRequested_) {
        view_.ShowTransfer(text);
    }
}

void UpdateDialog::SetProgress(int percent) {
    if (!closeRequested_) {
        view_.SetProgress(percent);
    }
}

void UpdateDialog::RaiseErrorCount() {
    if (!ended()) {
        ++errorCount_;
    }
}

// One run, one ending: what the rest of the step meets after the first (a send that fails on the
// way out, a timer, a signal) changes neither the box nor the exit status.
void UpdateDialog::EndWithMessage(update::Ending const& ending) {
    if (ended()) {
        return;
    }
    SettleExitStatus(ending.status);
    {
        net::ModalHold const hold(loop_);
        view_.ShowMessageBox(ending.caption, ending.text);
    }
    RequestClose();
}

void UpdateDialog::FinishRun() {
    if (ended()) {
        return;
    }
    if (errorCount_ != 0) {
        EndWithMessage(endings::UploadFailed(errorCount_));
        return;
    }
    if (settings_.launchProgram) {
        if (LaunchProgram(*settings_.launchProgram + " UPDATED")) {
            SettleExitStatus(update::ExitStatus::Completed);
        } else {
            EndWithMessage(endings::LaunchFailed(*settings_.launchProgram));
        }
    } else {
        EndWithMessage(endings::Completed());
    }
    RequestClose();
}

bool UpdateDialog::LaunchProgram(std::string const& commandLine) {
    if (!app::LaunchProgram(commandLine)) {
        return false;
    }
    view_.ShowLaunch(commandLine);
    return true;
}

void UpdateDialog::StartResponseTimer() {
    responseTimer_.Start(kResponseDelay, [this] { EndWithMessage(endings::NoResponse()); });
}

void UpdateDialog::StopResponseTimer() {
    responseTimer_.Stop();
}

bool UpdateDialog::ConnectAgain() {
    unsigned const tries = settings_.retries;
    if (ended() || tries == 0 || triesInARow_ >= tries || connections_ >= 4 * tries + 1) {
        return false;
    }
    ++triesInARow_;
    StopResponseTimer();
    connection_.Disconnect();
    auto const doubled = kFirstReconnectWait * (1u << std::min(triesInARow_ - 1, 5u));
    auto const longest = std::min<std::chrono::milliseconds>(doubled, kLongestReconnectWait);
    double const shortened = 1.0 - std::uniform_real_distribution<double>(0.0, 0.5)(random_);
    reconnectAt_ = loop_.Now() + std::chrono::milliseconds(static_cast<long>(
                                     static_cast<double>(longest.count()) * shortened));
    CountDownToReconnect();
    return true;
}

void UpdateDialog::CountDownToReconnect() {
    auto const left = std::chrono::ceil<std::chrono::milliseconds>(reconnectAt_ - loop_.Now());
    if (left.count() <= 0) {
        return StartConnect();
    }
    auto const seconds = std::chrono::ceil<std::chrono::seconds>(left);
    ShowStatus("reconnecting in " + std::to_string(seconds.count()) + " s (try " +
               std::to_string(triesInARow_) + " of " + std::to_string(settings_.retries) + ")");
    // Shown again when the number of seconds changes.
    reconnectTimer_.Start(left - (seconds - std::chrono::seconds(1)),
                          [this] { CountDownToReconnect(); });
}

void UpdateDialog::RequestClose() {
    closeRequested_ = true;
    loop_.Stop();
}

void UpdateDialog::SettleExitStatus(update::ExitStatus status) {
    if (!exitStatus_) {
        exitStatus_ = status;
    }
}

}  // namespace qm::app
