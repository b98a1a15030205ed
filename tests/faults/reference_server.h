// The real quillmesh-update-server, started by a test on its own address for a release directory;
// its log goes to a file in a work directory of the test. Its descriptors and resident memory can
// be read from /proc while it runs.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qm::faults {

class ReferenceServer {
  public:
    ReferenceServer(std::filesystem::path const& workDirectory, std::string const& address,
                    std::filesystem::path const& release,
                    std::vector<std::string> const& extraArguments = {});
    ~ReferenceServer();  // stops a server that still runs
    ReferenceServer(ReferenceServer const&) = delete;
    ReferenceServer& operator=(ReferenceServer const&) = delete;

    // True once the server has logged that it listens (within 10 s).
    bool Ready();
    pid_t pid() const { return pid_; }
    std::string Log() const;
    // Waits until the log holds `text` at least `times` times.
    bool WaitForLog(std::string_view text, std::size_t times, std::chrono::milliseconds timeout);
    // SIGTERM, then the exit status (128 + signal when it was killed after 10 s).
    std::optional<int> Stop();

  private:
    pid_t pid_ = -1;
    std::filesystem::path log_;
    std::optional<int> status_;
};

// Where the reference server binary is; empty when it was not built.
std::filesystem::path ServerBinaryPath();

// Open descriptors of a process (entries of /proc/PID/fd); -1 when it cannot be read.
int OpenDescriptorCount(pid_t pid);
// VmRSS of a process in KiB; -1 when it cannot be read.
long ResidentKb(pid_t pid);
// Occurrences of `text` in `haystack`.
std::size_t Occurrences(std::string_view haystack, std::string_view text);

}  // namespace qm::faults
