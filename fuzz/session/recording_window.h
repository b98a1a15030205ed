// The window the fuzzed session reports to: records what it is told and checks every report as
// it comes. Boxes are recorded, not shown; nothing closes.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "update/session_window.h"

namespace qm::fuzz {

class RecordingWindow final : public update::SessionWindow {
  public:
    struct Box {
        std::string caption;
        std::string text;
    };

    void ShowStatus(std::string_view text) override;
    void ShowTransfer(std::string_view text) override;
    void SetProgress(int percent) override;
    void EndWithMessage(update::Ending const& ending) override;
    void FinishRun() override { ++finishedRuns_; }
    void RaiseErrorCount() override { ++errorCount_; }
    void StartResponseTimer() override { responseTimerRunning_ = true; }
    void StopResponseTimer() override { responseTimerRunning_ = false; }
    // A fuzzed run has one connection.
    bool ConnectAgain() override { return false; }
    void NoteProgress() override {}
    bool CanComplete() const override { return !ended() && errorCount_ == 0; }

    std::vector<Box> const& boxes() const { return boxes_; }
    int finishedRuns() const { return finishedRuns_; }
    int errorCount() const { return errorCount_; }
    // The run has ended: a box was shown or the completed run was finished.
    bool ended() const { return !boxes_.empty() || finishedRuns_ > 0; }
    // The no-response timer would still end the run.
    bool responseTimerRunning() const { return responseTimerRunning_; }

  private:
    std::vector<Box> boxes_;
    int finishedRuns_ = 0;
    int errorCount_ = 0;
    int lastErrorCount_ = 0;
    bool responseTimerRunning_ = false;
};

}  // namespace qm::fuzz
