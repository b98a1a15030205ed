// The real quillmesh-update-server, started on its own loopback address for a release directory
// and stopped with the object. Its log (standard error) is kept in memory; its descriptors and
// memory can be read from /proc while it runs.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "support/process.h"

namespace qm::test {

class ReferenceServer {
  public:
    ReferenceServer(std::string const& address, std::filesystem::path const& release,
                    std::vector<std::string> const& extraArguments = {},
                    std::filesystem::path const& binary = ServerBinary(),
                    std::optional<rlim_t> descriptorLimit = std::nullopt);
    ~ReferenceServer() { Stop(); }
    ReferenceServer(ReferenceServer const&) = delete;
    ReferenceServer& operator=(ReferenceServer const&) = delete;

    // True once the server has logged that it listens.
    bool Ready(Millis timeout = Millis(10000)) { return WaitForLog("listening on", 1, timeout); }
    pid_t pid() const { return process_.pid(); }
    Process& process() { return process_; }
    std::string Log() const { return process_.Output(); }
    // Waits until the log holds `text` at least `times` times.
    bool WaitForLog(std::string_view text, std::size_t times, Millis timeout);
    // SIGHUP, then waits for the rescan to be logged.
    bool Rescan();
    // SIGTERM (the server drains: a client still logged in holds it up), then the exit status
    // (128 + signal when it was killed after 10 s).
    std::optional<int> Stop();

    // The server binary: QM_SERVER_BINARY, or where the build puts it beside the test program.
    static std::filesystem::path ServerBinary();

  private:
    Process process_;
    std::size_t rescans_ = 0;
    std::optional<int> status_;
};

}  // namespace qm::test
