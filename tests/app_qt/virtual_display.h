// Xvfb on a display number it picks itself, ended with the object: an X server of the test's own
// for the programs it starts.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <map>
#include <optional>
#include <string>

#include "event_wait.h"
#include "support/process.h"

namespace qm::app::qt::test {

// The test's environment with some variables set (a value) or removed (no value).
using EnvironmentChanges = std::map<std::string, std::optional<std::string>>;

class VirtualDisplay {
  public:
    VirtualDisplay() {
        int ends[2];
        if (pipe2(ends, O_CLOEXEC) != 0) {
            return;
        }
        server_.emplace(qm::test::ProcessOptions{
            .argv = {"/usr/bin/Xvfb", "-displayfd", std::to_string(ends[1]), "-nolisten", "tcp",
                     "-screen", "0", "1024x768x24"},
            .passFd = ends[1]});
        close(ends[1]);
        // Xvfb writes its display number and a newline once it accepts connections.
        std::string number;
        pollfd ready{ends[0], POLLIN, 0};
        char buffer[16];
        ssize_t got = 0;
        while (number.find('\n') == std::string::npos &&
               poll(&ready, 1, static_cast<int>(kStepTimeout.count())) > 0 &&
               (got = read(ends[0], buffer, sizeof buffer)) > 0) {
            number.append(buffer, static_cast<std::size_t>(got));
        }
        close(ends[0]);
        if (number.find('\n') != std::string::npos) {
            name_ = ":" + number.substr(0, number.find('\n'));
        }
    }
    ~VirtualDisplay() {
        // Asked to end, so that it removes its lock file and socket.
        if (server_) {
            server_->Signal(SIGTERM);
            server_->WaitForExit(kStepTimeout);
        }
    }
    VirtualDisplay(VirtualDisplay const&) = delete;
    VirtualDisplay& operator=(VirtualDisplay const&) = delete;
    // ":N", or empty when the server did not start.
    std::string const& name() const { return name_; }

  private:
    std::optional<qm::test::Process> server_;
    std::string name_;
};

}  // namespace qm::app::qt::test
