// Programs a test starts: an X server of its own, or the updater itself, each with its own
// environment; every wait for them is bounded and they are killed when the test ends.
#pragma once

#include <sys/types.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "event_wait.h"

namespace qm::app::qt::test {

// The test's environment with some variables set (a value) or removed (no value).
using EnvironmentChanges = std::map<std::string, std::optional<std::string>>;

class ChildProcess {
  public:
    // Starts `argv` with the changed environment; its standard output goes to a pipe and the
    // descriptor `passFd`, when not -1, is left open for it.
    ChildProcess(std::vector<std::string> const& argv, EnvironmentChanges const& changes,
                 int passFd = -1);
    ~ChildProcess();
    ChildProcess(ChildProcess const&) = delete;
    ChildProcess& operator=(ChildProcess const&) = delete;

    bool started() const { return pid_ > 0; }
    void Signal(int signal) const;
    // The exit status, or nothing when the program has not ended within `timeout`.
    std::optional<int> WaitForExit(Millis timeout = kStepTimeout);
    // What the program has written to its standard output so far.
    std::string Output();

  private:
    pid_t pid_ = -1;
    int output_ = -1;
    std::optional<int> status_;
    std::string collected_;
};

// Xvfb on a display number it picks itself.
class VirtualDisplay {
  public:
    VirtualDisplay();
    ~VirtualDisplay();
    VirtualDisplay(VirtualDisplay const&) = delete;
    VirtualDisplay& operator=(VirtualDisplay const&) = delete;
    // ":N", or empty when the server did not start.
    std::string const& name() const { return name_; }

  private:
    std::optional<ChildProcess> server_;
    std::string name_;
};

}  // namespace qm::app::qt::test
