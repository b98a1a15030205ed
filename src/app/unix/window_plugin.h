// The update window lives in a module of its own (Qt), loaded only when a window will be shown,
// so that plain and terminal runs never map the toolkit. The module sits in the program's library
// directory, found relative to the running program, so an unpacked package uses its own.
//
// The module exports one function, kWindowPluginSymbol, that returns its WindowPluginApi. Module
// and program come from the same build: the C++ types below are shared as they are.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>

#include "app/front_end.h"
#include "app/update_app.h"

namespace qm::app {

inline constexpr char kWindowPluginSymbol[] = "quillmesh_updater_window_v1";
inline constexpr char kWindowPluginFile[] = "quillmesh-updater-window.so";
inline constexpr std::chrono::milliseconds kDisplayProbeTimeout{5000};

struct WindowPluginApi {
    // Connects to the display that DISPLAY or WAYLAND_DISPLAY names, as the window would, and
    // returns; a display that refuses ends the process. Called in a child process only.
    void (*connectToDisplay)();
    // The window front end, which brings the program's QApplication. The caller owns it.
    FrontEnd* (*makeFrontEnd)(int wakeFd);
};

using WindowPluginEntry = WindowPluginApi const* (*)();

// Where the module is: beside the running program, in its library directory.
std::string WindowPluginPath();

// Whether the window can be shown. The module is loaded and the display tried in a child process,
// so that a broken module or display can neither end nor hang this one.
struct WindowProbe {
    enum class Result { Works, NoDisplay, PluginUnusable };
    Result result;
    std::string reason;  // why the module is unusable
};
WindowProbe ProbeWindow(std::string const& pluginPath,
                        std::chrono::milliseconds timeout = kDisplayProbeTimeout);

// The factory of the window front end when a display is named and works and the module loads;
// empty otherwise. A module that is missing or broken where a display is named is said in one
// line on `notes`. Forks: call it before the program starts any thread.
FrontEndFactory LoadWindowFrontEnd(std::FILE* notes);

}  // namespace qm::app
