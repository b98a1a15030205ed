// What the update session needs of the window that shows it: status and progress, the endings of
// a run, the no-response timer, and the window's fields that the session reads and writes.
#pragma once

#include <string>
#include <string_view>

namespace qm::update {

class SessionWindow {
  public:
    virtual ~SessionWindow() = default;

    virtual void ShowStatus(std::string_view text) = 0;
    virtual void ShowTransfer(std::string_view text) = 0;
    virtual void SetProgress(int percent) = 0;
    // Shows a modal box, then requests the close of the window; returns to the caller, which
    // finishes the step it is in.
    virtual void EndWithMessage(std::string_view caption, std::string_view text) = 0;
    // Ends a completed run: error summary or the launch of the client program.
    virtual void FinishRun() = 0;
    virtual void StartResponseTimer() = 0;
    virtual void StopResponseTimer() = 0;

    int errorCount = 0;
    int pendingSocket = -1;  // socket of the connect under way, until its first read
    std::string serverAddress;
};

}  // namespace qm::update
