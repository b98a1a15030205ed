// An X server of the test's own (Xvfb) with a real window manager on it (openbox, with its
// default configuration), and what a user sees of the windows there: titles, sizes, title bars
// and the actions the window manager offers, read with xprop and xwininfo; clicks and keys from
// xdotool; screenshots. Every wait is bounded.
#pragma once

#include <QMargins>
#include <QPoint>
#include <QRect>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "event_wait.h"
#include "support/process.h"
#include "virtual_display.h"

namespace qm::app::qt::test {

// A top-level window as the window manager shows it.
struct ManagedWindow {
    std::string id;
    QRect client;    // the window's own area, in screen coordinates
    QMargins frame;  // what the window manager draws around it; the title bar is on top
    std::vector<std::string> allowedActions;  // _NET_WM_ALLOWED_ACTIONS, without the prefix

    bool Allows(std::string const& action) const;
    int TitleBarHeight() const { return frame.top(); }
    QRect Frame() const { return client.marginsAdded(frame); }
    // The middle of the rightmost button of the title bar.
    QPoint CloseBox() const;
};

class ManagedDisplay {
  public:
    ManagedDisplay();
    ~ManagedDisplay();
    ManagedDisplay(ManagedDisplay const&) = delete;
    ManagedDisplay& operator=(ManagedDisplay const&) = delete;

    // Empty when the X server did not start.
    std::string const& name() const { return display_.name(); }
    // The window manager runs and has taken over the display.
    bool managed() const { return managed_; }
    // The environment for a program shown on this display (and nowhere else).
    EnvironmentChanges Environment() const;

    // The window titled `title` once the window manager shows it.
    std::optional<ManagedWindow> WaitForWindow(std::string const& title,
                                               Millis timeout = kStepTimeout);
    void Click(QPoint where);
    void PressKey(std::string const& key);
    // Saves the frame of `window` with a margin of dark screen around it.
    bool Screenshot(ManagedWindow const& window, std::filesystem::path const& file);

  private:
    // What a tool printed; nothing when it did not end in time.
    std::string Run(std::vector<std::string> const& argv, Millis timeout = kStepTimeout);
    std::optional<ManagedWindow> Read(std::string const& id);
    std::vector<std::string> ClientIds();

    VirtualDisplay display_;
    std::optional<qm::test::Process> windowManager_;
    bool managed_ = false;
};

}  // namespace qm::app::qt::test
