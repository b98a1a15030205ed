#include "app/win/dialog_view.h"

#include <commctrl.h>

#include <string>

#include "app/win/resource_ids.h"
#include "app/win/stop_requests.h"
#include "base/win/system_path.h"

namespace qm::app {

void CentreOnWorkArea(HWND window) {
    RECT frame{};
    ::GetWindowRect(window, &frame);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    RECT area{};
    if (::GetMonitorInfoW(::MonitorFromWindow(window, MONITOR_DEFAULTTOPRIMARY), &monitor)) {
        area = monitor.rcWork;
    } else {
        ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    }
    int const width = frame.right - frame.left;
    int const height = frame.bottom - frame.top;
    ::SetWindowPos(window, nullptr, area.left + (area.right - area.left - width) / 2,
                   area.top + (area.bottom - area.top - height) / 2, 0, 0,
                   SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

DialogView::DialogView(net::MessageLoop& loop) : loop_(loop) {
    INITCOMMONCONTROLSEX const controls{sizeof(INITCOMMONCONTROLSEX), ICC_PROGRESS_CLASS};
    ::InitCommonControlsEx(&controls);
    dialog_ = ::CreateDialogParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(QM_UPDATE_DIALOG),
                                   nullptr, &DialogProcedure, reinterpret_cast<LPARAM>(this));
    if (dialog_ != nullptr) {
        ::SendDlgItemMessageW(dialog_, QM_PROGRESS_BAR, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
        ::SendDlgItemMessageW(dialog_, QM_PROGRESS_BAR, PBM_SETPOS, 0, 0);
        loop_.SetDialog(dialog_);
    }
}

DialogView::~DialogView() {
    Close();
}

INT_PTR CALLBACK DialogView::DialogProcedure(HWND dialog, UINT message, WPARAM wParam,
                                             LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        ::SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        return TRUE;  // the focus goes to the first control that takes it, the Abort button
    }
    auto* const view = reinterpret_cast<DialogView*>(::GetWindowLongPtrW(dialog, DWLP_USER));
    if (view == nullptr) {
        return FALSE;
    }
    switch (message) {
        case WM_COMMAND:
            // The Abort button, Escape, and the close box (whose WM_CLOSE the dialog manager
            // turns into IDCANCEL) all give the cancel command.
            if (LOWORD(wParam) == IDCANCEL) {
                view->Cancel();
                return TRUE;
            }
            return FALSE;
        case WM_QUERYENDSESSION:
            // The user's session ends: the run ends as on Abort (an open box first ends as its
            // OK button does), and the session may go on.
            view->sessionEnding_ = true;
            RequestStop(view->loop_, [view] { view->Cancel(); });
            ::SetWindowLongPtrW(dialog, DWLP_MSGRESULT, TRUE);
            return TRUE;
        case WM_ENDSESSION:
            // Told without the question before (a forced logoff), or the question was answered
            // elsewhere: the same, once.
            if (wParam != FALSE && !view->sessionEnding_) {
                RequestStop(view->loop_, [view] { view->Cancel(); });
            }
            return TRUE;
        default:
            return FALSE;
    }
}

void DialogView::Open() {
    if (dialog_ == nullptr) {
        return;
    }
    CentreOnWorkArea(dialog_);
    ::ShowWindow(dialog_, SW_SHOWNORMAL);
    open_ = true;
}

void DialogView::SetLine(int control, std::string_view text) {
    if (dialog_ != nullptr) {
        ::SetDlgItemTextW(dialog_, control, base::win::Widen(text).c_str());
    }
}

void DialogView::ShowStatus(std::string_view text) {
    SetLine(QM_STATUS_LINE, text);
}

void DialogView::ShowTransfer(std::string_view text) {
    SetLine(QM_TRANSFER_LINE, text);
}

void DialogView::SetProgress(int percent) {
    if (dialog_ != nullptr) {
        ::SendDlgItemMessageW(dialog_, QM_PROGRESS_BAR, PBM_SETPOS, static_cast<WPARAM>(percent),
                              0);
    }
}

void DialogView::ShowMessageBox(std::string_view caption, std::string_view text) {
    // Owned by the window once it is shown; before that (a configuration error) by nobody, so
    // that the box is not hidden with it.
    ::MessageBoxW(open_ ? dialog_ : nullptr, base::win::Widen(text).c_str(),
                  base::win::Widen(caption).c_str(), MB_OK);
}

void DialogView::Close() {
    if (dialog_ != nullptr) {
        loop_.SetDialog(nullptr);
        ::DestroyWindow(dialog_);
        dialog_ = nullptr;
        open_ = false;
    }
}

}  // namespace qm::app
