// What the update session needs of the window that shows it: status and progress, the endings of
// a run, the error count and the no-response timer.
#pragma once

#include <string_view>

#include "update/ending.h"

namespace qm::update {

class SessionWindow {
  public:
    virtual ~SessionWindow() = default;

    virtual void ShowStatus(std::string_view text) = 0;
    virtual void ShowTransfer(std::string_view text) = 0;
    virtual void SetProgress(int percent) = 0;
    // Shows the ending's box, then requests the close of the window; returns to the caller,
    // which finishes the step it is in.
    virtual void EndWithMessage(Ending const& ending) = 0;
    // Ends a completed run: error summary or the launch of the client program.
    virtual void FinishRun() = 0;
    // One more error met in this run.
    virtual void RaiseErrorCount() = 0;
    virtual void StartResponseTimer() = 0;
    virtual void StopResponseTimer() = 0;

    // The connection was lost after the run's first WELCOME: true when the window will connect
    // again (after a wait), false when the run must end as it would without retries.
    virtual bool ConnectAgain() = 0;
    // The run moved forward on this connection: the tries in a row start again.
    virtual void NoteProgress() = 0;
    // No ending was chosen and no error counted: the run may complete, and commit what it held
    // back.
    virtual bool CanComplete() const = 0;
};

}  // namespace qm::update
