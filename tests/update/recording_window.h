// A session window that writes down what the session shows, for driving the session in tests.
#pragma once

#include <string>
#include <vector>

#include "update/session_window.h"

namespace qm::update {

class RecordingWindow final : public SessionWindow {
  public:
    void ShowStatus(std::string_view text) override { statuses.emplace_back(text); }
    void ShowTransfer(std::string_view text) override { transfers.emplace_back(text); }
    void SetProgress(int /*percent*/) override {}
    void EndWithMessage(Ending const& ending) override { boxes.push_back(ending); }
    void FinishRun() override { ++finished; }
    void RaiseErrorCount() override { ++errors; }
    void StartResponseTimer() override { timerRunning = true; }
    void StopResponseTimer() override { timerRunning = false; }
    bool ConnectAgain() override { return reconnects-- > 0; }
    void NoteProgress() override { ++progress; }
    bool CanComplete() const override { return boxes.empty() && errors == 0; }

    std::vector<std::string> statuses;
    std::vector<std::string> transfers;
    std::vector<Ending> boxes;
    int finished = 0;
    int errors = 0;
    bool timerRunning = false;
    int reconnects = 0;  // how many more connections the window makes after a loss
    int progress = 0;    // how often the run moved forward
};

}  // namespace qm::update
