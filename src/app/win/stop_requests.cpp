#include "app/win/stop_requests.h"

#include <atomic>
#include <string_view>
#include <utility>

#include "app/win/resource_ids.h"

namespace qm::app {
namespace {

// The run that the console's requests stop; the handler runs on a thread of the system's.
std::atomic<ConsoleStopRequests*> consoleTarget{nullptr};

// Whether `window` is a message box: a dialog (class "#32770") without the update window's
// progress bar.
bool IsMessageBox(HWND window) {
    wchar_t name[16] = {};
    return ::GetClassNameW(window, name, 16) > 0 && std::wstring_view(name) == L"#32770" &&
           ::GetDlgItem(window, QM_PROGRESS_BAR) == nullptr;
}

BOOL CALLBACK DismissIfMessageBox(HWND window, LPARAM) {
    if (IsMessageBox(window)) {
        ::PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    }
    return TRUE;
}

}  // namespace

void DismissMessageBoxes(DWORD thread) {
    ::EnumThreadWindows(thread, &DismissIfMessageBox, 0);
}

void RequestStop(net::MessageLoop& loop, std::function<void()> cancel) {
    // The box first: a cancel that found no box open would show its own, which must stay.
    DismissMessageBoxes(::GetWindowThreadProcessId(loop.window(), nullptr));
    loop.Post(std::move(cancel));
}

ConsoleStopRequests::ConsoleStopRequests(net::MessageLoop& loop, std::function<void()> cancel)
    : loop_(loop), cancel_(std::move(cancel)) {
    consoleTarget.store(this);
    ::SetConsoleCtrlHandler(&Handle, TRUE);
}

ConsoleStopRequests::~ConsoleStopRequests() {
    ::SetConsoleCtrlHandler(&Handle, FALSE);
    consoleTarget.store(nullptr);
}

BOOL WINAPI ConsoleStopRequests::Handle(DWORD event) {
    ConsoleStopRequests* const target = consoleTarget.load();
    if (target == nullptr) {
        return FALSE;
    }
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            RequestStop(target->loop_, target->cancel_);
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace qm::app
