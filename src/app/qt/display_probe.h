// Whether the window system can be used: DISPLAY or WAYLAND_DISPLAY is set and Qt's platform
// plugin, as this process would load it, connects. The attempt is made in a child process, so
// that a missing or broken display can neither end nor hang this one: a child that has not
// answered within `timeout` is killed and counts as no display.
//
// Forks: call it before the process starts any thread.
#pragma once

#include <chrono>

namespace qm::app::qt {

inline constexpr std::chrono::milliseconds kDisplayProbeTimeout{5000};

bool DisplayWorks(std::chrono::milliseconds timeout = kDisplayProbeTimeout);

}  // namespace qm::app::qt
