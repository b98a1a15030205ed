#include "app/update_dialog.h"

#include "app/program_launch.h"
#include "store/profile_file.h"

namespace qm::app {

UpdateDialog::UpdateDialog(net::EventLoop& loop, net::SocketLayer& layer, net::ClientLink& link,
                           update::UpdateSession& session, UpdateView& view)
    : loop_(loop), layer_(layer), link_(link), session_(session), view_(view) {}

void UpdateDialog::OnOpen() {
    session_.AttachWindow(this);
    layer_.SocketStartup();
    session_.InstallHandlers();
    link_.socket = -1;
    link_.from_me = 0;
    link_.peerId = 0;
    link_.connected = false;
    link_.bytesReceived = 0;

    if (auto server = store::ReadProfileValue(kConfigFile, kConfigSection, "SERVER")) {
        serverAddress = *server;
    } else {
        EndWithMessage("Configuration error:", "The server address is unreachable...");
    }
    launchProgram = store::ReadProfileValue(kConfigFile, kConfigSection, "EXE");
    errorCount = 0;
    SetProgress(0);
    loop_.StartTimer(kConnectTimer, kConnectDelay, [this] { OnTimer(kConnectTimer); });
}

void UpdateDialog::OnTimer(int id) {
    if (id == kConnectTimer) {
        loop_.StopTimer(kConnectTimer);
        StartConnect();
    } else if (id == kResponseTimer) {
        loop_.StopTimer(kResponseTimer);
        EndWithMessage("Network Error", "no response from the server");
    }
}

void UpdateDialog::StartConnect() {
    if (link_.connected) {
        net::ResetLink(link_, layer_);
        ShowStatus("connection closed");
        return;
    }
    ShowStatus("connecting...");
    pendingSocket = layer_.AsyncConnect(serverAddress, update::kServerPort);
    if (pendingSocket == -1) {
        ShowStatus("connection failed");
        EndWithMessage("Network error", "unable to connect to the server");
    }
}

void UpdateDialog::Abort() {
    if (closeRequested_) {
        return;
    }
    net::ResetLink(link_, layer_);
    errorCount += 1;
    EndWithMessage("Program exit", "The user has canceled the operation.");
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

void UpdateDialog::EndWithMessage(std::string_view caption, std::string_view text) {
    SettleExitStatus(ExitStatusForCaption(caption));
    // Nothing else of the run happens while the box is open.
    loop_.Hold(true);
    view_.ShowMessageBox(caption, text);
    loop_.Hold(false);
    RequestClose();
}

void UpdateDialog::FinishRun() {
    if (errorCount != 0) {
        EndWithMessage("Upload failed", std::to_string(errorCount) +
                                            " errors occured during the upload process, please "
                                            "try again !");
        return;
    }
    if (launchProgram) {
        if (LaunchProgram(*launchProgram + " UPDATED")) {
            SettleExitStatus(kExitCompleted);
        } else {
            EndWithMessage("Update successfull, but cannot launch:", *launchProgram);
        }
    } else {
        EndWithMessage("Update successfull.", "Click \"OK\" to exit.");
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
    loop_.StartTimer(kResponseTimer, kResponseDelay, [this] { OnTimer(kResponseTimer); });
}

void UpdateDialog::StopResponseTimer() {
    loop_.StopTimer(kResponseTimer);
}

void UpdateDialog::RequestClose() {
    closeRequested_ = true;
    loop_.Stop();
}

void UpdateDialog::SettleExitStatus(ExitStatus status) {
    if (!exitStatus_) {
        exitStatus_ = status;
    }
}

}  // namespace qm::app
