// The front end for logs, scripts and tests: one line per event on an output stream, flushed at
// once. Message boxes are printed and taken as dismissed.
//
//   status: TEXT        transfer: TEXT       progress: N
//   box: [CAPTION] TEXT                      launch: COMMAND LINE
//
// Transfer lines are thinned to those whose percentage changed, and progress lines are printed
// only when the value changes, so a large download does not flood the output.
#pragma once

#include <array>
#include <cstdio>
#include <string>

#include "app/update_view.h"

namespace qm::app {

class PlainView final : public UpdateView {
  public:
    explicit PlainView(std::FILE* out) : out_(out) {}

    void ShowStatus(std::string_view text) override;
    void ShowTransfer(std::string_view text) override;
    void SetProgress(int percent) override;
    void ShowMessageBox(std::string_view caption, std::string_view text) override;
    void ShowLaunch(std::string_view commandLine) override;
    void Close() override;

  private:
    void Print(std::string_view prefix, std::string_view text);
    void FlushTransfer();

    std::FILE* out_;
    // The latest transfer line, shown once its percentage is known. A fixed buffer, since a line
    // comes with every chunk.
    std::array<char, 128> pendingTransfer_{};
    std::size_t pendingLength_ = 0;
    bool transferPending_ = false;
    int transferPercent_ = -1;  // percentage of the last transfer line printed
    int progress_ = -1;
};

}  // namespace qm::app
