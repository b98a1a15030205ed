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
    void EndWithMessage(std::string_view caption, std::string_view text) override;
    void FinishRun() override;
    void StartResponseTimer() override { ++timerStarts_; }
    void StopResponseTimer() override { ++timerStops_; }

    std::vector<Box> const& boxes() const { return boxes_; }
    int finishedRuns() const { return finishedRuns_; }

  private:
    std::vector<Box> boxes_;
    int finishedRuns_ = 0;
    int timerStarts_ = 0;
    int timerStops_ = 0;
    int lastErrorCount_ = 0;
};

}  // namespace qm::fuzz
