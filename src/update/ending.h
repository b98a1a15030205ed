// How a run ends: the exit status of the process, and the caption and text of the message box
// that says so. Each ending is chosen where it happens, as a value; the window only shows it.
#pragma once

#include <string>
#include <string_view>

namespace qm::update {

// The process's exit status, decided by the first ending of a run.
enum class ExitStatus : int {
    Completed = 0,       // program started, or no EXE to start
    UploadFailed = 1,    // completion with errors counted
    Configuration = 2,   // upd.ini without a usable server address or setting
    Network = 3,         // any network failure
    Disk = 4,            // any disk access error
    Cancelled = 5,       // the user (or a signal) cancelled the run
    LaunchFailed = 6,    // completion, but the program could not be started
    AlreadyRunning = 7,  // another updater is at work in this directory
};

struct Ending {
    ExitStatus status;
    std::string caption;
    std::string text;
};

// The endings of a run, with the system's own texts.
namespace endings {

inline Ending ConfigurationError(std::string text) {
    return {ExitStatus::Configuration, "Configuration error:", std::move(text)};
}
inline Ending NoServerAddress() {
    return ConfigurationError("The server address is unreachable...");
}
// Network failures: unable to connect or join, connection lost, invalid data.
inline Ending NetworkError(std::string text) {
    return {ExitStatus::Network, "Network error", std::move(text)};
}
inline Ending ConnectionLost() {
    return NetworkError("connection lost");
}
inline Ending ServerNotVerified() {
    return NetworkError("the server could not be verified");
}
inline Ending NoResponse() {
    return {ExitStatus::Network, "Network Error", "no response from the server"};
}
inline Ending DiskAccessError(std::string text) {
    return {ExitStatus::Disk, "Disk access error", std::move(text)};
}
inline Ending Cancelled() {
    return {ExitStatus::Cancelled, "Program exit", "The user has canceled the operation."};
}
inline Ending AlreadyRunning() {
    return {ExitStatus::AlreadyRunning, "Program exit",
            "Another update is running in this directory."};
}
inline Ending UploadFailed(int errorCount) {
    return {ExitStatus::UploadFailed, "Upload failed",
            std::to_string(errorCount) +
                " errors occured during the upload process, please try again !"};
}
inline Ending Completed() {
    return {ExitStatus::Completed, "Update successfull.", "Click \"OK\" to exit."};
}
inline Ending LaunchFailed(std::string launchProgram) {
    return {ExitStatus::LaunchFailed,
            "Update successfull, but cannot launch:", std::move(launchProgram)};
}

}  // namespace endings
}  // namespace qm::update
