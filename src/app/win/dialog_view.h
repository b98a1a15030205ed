// The update window of Windows: the dialog of template 1009 (resources/quillmesh-updater.rc.in),
// run modeless by the loop's message loop, centred on the work area when it opens. The Abort
// button, Escape, the close box and the end of the user's session (stop_requests.h) give the
// cancel command; every box is a MessageBox with the
// caption, the text, OK and no icon.
#pragma once

#include <windows.h>

#include "app/update_view.h"
#include "net/win/message_loop.h"

namespace qm::app {

class DialogView final : public UpdateView {
  public:
    // Creates the window, hidden; `created()` says whether the desktop accepted it.
    explicit DialogView(net::MessageLoop& loop);
    ~DialogView() override;
    DialogView(DialogView const&) = delete;
    DialogView& operator=(DialogView const&) = delete;

    bool created() const { return dialog_ != nullptr; }
    HWND window() const { return dialog_; }

    void Open() override;
    void ShowStatus(std::string_view text) override;
    void ShowTransfer(std::string_view text) override;
    void SetProgress(int percent) override;
    void ShowMessageBox(std::string_view caption, std::string_view text) override;
    void Close() override;

  private:
    static INT_PTR CALLBACK DialogProcedure(HWND dialog, UINT message, WPARAM wParam,
                                            LPARAM lParam);
    void SetLine(int control, std::string_view text);

    net::MessageLoop& loop_;
    HWND dialog_ = nullptr;
    bool open_ = false;
    bool sessionEnding_ = false;  // the end of the session was asked already
};

// Places `window` at the centre of the work area of its screen (the screen less the task bar).
void CentreOnWorkArea(HWND window);

}  // namespace qm::app
