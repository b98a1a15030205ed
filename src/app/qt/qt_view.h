// UpdateView on the update window: the texts and the progress go to its controls, a message box
// is the platform's standard box (caption, text, an OK button, no icon), modal over the window
// and wide enough for its caption (message_box.h).
// A box is also dismissed when `wakeFd` (the signal pipe) becomes readable.
#pragma once

#include "app/update_view.h"

namespace qm::app::qt {

class UpdateWindow;

class QtView final : public UpdateView {
  public:
    QtView(UpdateWindow& window, int wakeFd);

    void Open() override;
    void ShowStatus(std::string_view text) override;
    void ShowTransfer(std::string_view text) override;
    void SetProgress(int percent) override;
    void ShowMessageBox(std::string_view caption, std::string_view text) override;
    void Close() override;

  private:
    UpdateWindow& window_;
    int wakeFd_;
};

}  // namespace qm::app::qt
