// The real quillmesh-update-server, started for one test on its own loopback address, with its
// log in a file.
#pragma once

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "child_process.h"

namespace qm::test {

inline constexpr std::chrono::milliseconds kStartTimeout{10000};

class RunningServer {
  public:
    // Starts the server on `address` for `release`; `workDirectory` receives the log.
    RunningServer(std::filesystem::path const& workDirectory, std::string const& address,
                  std::filesystem::path const& release,
                  std::vector<std::string> extraArguments = {});

    // True once the server listens, false when it did not within kStartTimeout.
    bool Ready();
    std::string Log() const;
    // Waits until the log holds `text` at least `times` times; false after `timeout`.
    bool WaitForLog(std::string_view text, std::size_t times, std::chrono::milliseconds timeout);
    // SIGHUP, then waits for the rescan to be logged.
    bool Rescan();
    // SIGTERM and the exit status.
    std::optional<int> Stop();

  private:
    std::filesystem::path logFile_;
    std::unique_ptr<ChildProcess> process_;
    std::size_t rescans_ = 0;
};

// Occurrences of `text` in `haystack`.
std::size_t CountOf(std::string_view haystack, std::string_view text);

}  // namespace qm::test
