// The stop requests of Windows while a message box is open: a console's Ctrl-C or Ctrl-Break (by
// the console handler's own function: a test cannot press the keys) and the end of the user's
// session (the messages the system sends the update window). Each ends the box as its OK button
// does, and the cancel runs once the box has gone, as a signal does on POSIX systems. Needs a
// desktop for the window: under wine, a DISPLAY (the cross check runs these on its X server).
#include "app/win/stop_requests.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "app/win/dialog_view.h"
#include "support/loop_turns.h"

namespace qm::app {
namespace {

using namespace std::chrono_literals;

struct Request {
    char const* name;
    // Made on a thread of its own while the box is open, as the system makes it.
    std::function<void(HWND window)> make;
};

TEST(StopRequests, EndTheOpenBoxAndCancelOnceItHasGone) {
    Request const requests[] = {
        {"Ctrl-C", [](HWND) { ConsoleStopRequests::Handle(CTRL_C_EVENT); }},
        {"Ctrl-Break", [](HWND) { ConsoleStopRequests::Handle(CTRL_BREAK_EVENT); }},
        {"the session's end asked",
         [](HWND window) { ::SendMessageW(window, WM_QUERYENDSESSION, 0, 0); }},
        {"the session's end told",
         [](HWND window) { ::SendMessageW(window, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF); }},
    };
    for (Request const& request : requests) {
        SCOPED_TRACE(request.name);
        net::MessageLoop loop;
        DialogView view(loop);
        if (!view.created()) {
            GTEST_SKIP() << "no desktop to show the window on (under wine: no DISPLAY)";
        }
        int cancels = 0;
        bool boxOpen = false;
        auto const cancel = [&] {
            EXPECT_FALSE(boxOpen) << "the cancel ran while the box was open";
            ++cancels;
        };
        view.SetCancelHandler(cancel);  // the session's end, through the window
        ConsoleStopRequests const console(loop, cancel);
        view.Open();
        std::string const caption = std::string("Stop request: ") + request.name;
        std::atomic<bool> dismissedByRequest{false};
        std::thread requester([&] {
            HWND box = nullptr;
            std::wstring const title(caption.begin(), caption.end());
            for (int wait = 0; wait < 500 && box == nullptr; ++wait) {
                std::this_thread::sleep_for(20ms);
                box = ::FindWindowW(nullptr, title.c_str());
            }
            if (box == nullptr) {
                return;
            }
            request.make(view.window());
            for (int wait = 0; wait < 250 && ::IsWindow(box); ++wait) {
                std::this_thread::sleep_for(20ms);
            }
            dismissedByRequest = !::IsWindow(box);
            if (!dismissedByRequest) {
                ::PostMessageW(box, WM_COMMAND, IDOK, 0);  // so that the test ends
            }
        });
        {
            net::ModalHold const hold(loop);  // as the window controller holds it for a box
            boxOpen = true;
            view.ShowMessageBox(caption, "The box the request ends.");
            boxOpen = false;
        }
        requester.join();
        EXPECT_TRUE(dismissedByRequest);
        EXPECT_TRUE(test::RunUntil(
            loop, [&] { return cancels > 0; }, 5s));
        test::RunUntil(
            loop, [] { return false; }, 100ms);
        EXPECT_EQ(cancels, 1);
    }
}

}  // namespace
}  // namespace qm::app
