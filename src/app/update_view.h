// How the update window is drawn: the narrow interface between the window controller and a
// front end (plain lines, a terminal window, a toolkit window).
#pragma once

#include <functional>
#include <string_view>

namespace qm::app {

class UpdateView {
  public:
    virtual ~UpdateView() = default;

    // The window becomes visible (not called when the run ends before the window is shown).
    virtual void Open() {}
    virtual void ShowStatus(std::string_view text) = 0;
    virtual void ShowTransfer(std::string_view text) = 0;
    virtual void SetProgress(int percent) = 0;
    // A modal box with a caption, a text and an OK button; returns when it has been dismissed.
    virtual void ShowMessageBox(std::string_view caption, std::string_view text) = 0;
    // The client program was started with this command line.
    virtual void ShowLaunch(std::string_view /*commandLine*/) {}
    // The window closes.
    virtual void Close() {}

    // The cancel command (Abort button, Escape, close box) calls this.
    void SetCancelHandler(std::function<void()> handler) { onCancel_ = std::move(handler); }

  protected:
    void Cancel() {
        if (onCancel_) {
            onCancel_();
        }
    }

  private:
    std::function<void()> onCancel_;
};

}  // namespace qm::app
