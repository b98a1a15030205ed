// A program started for a benchmark: its working directory, where its output goes, its CPU
// time while it runs, and its exit with the resource usage the kernel kept for it.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace qm::bench {

class ChildProcess {
  public:
    struct Exit {
        int status = -1;           // exit status, or 128 + signal
        long peakResidentKiB = 0;  // ru_maxrss
        double cpuSeconds = 0;     // user + system
    };

    // Starts `program` with `arguments` in `directory`. Standard output goes to `stdoutFd` (or
    // /dev/null when -1), standard error to the file `stderrPath` (or /dev/null when empty).
    ChildProcess(std::string const& program, std::vector<std::string> const& arguments,
                 std::string const& directory, int stdoutFd, std::string const& stderrPath);
    ~ChildProcess();
    ChildProcess(ChildProcess const&) = delete;
    ChildProcess& operator=(ChildProcess const&) = delete;

    bool started() const { return pid_ > 0; }
    std::chrono::steady_clock::time_point startedAt() const { return startedAt_; }

    // User and system time so far, from /proc (resolution: one clock tick).
    double CpuSecondsSoFar() const;

    // Waits for the exit; nothing after `timeout` (the process is then left running).
    std::optional<Exit> Wait(std::chrono::milliseconds timeout);

    // Asks the process to stop (SIGTERM), then waits for it.
    std::optional<Exit> Stop();

  private:
    pid_t pid_ = -1;
    std::chrono::steady_clock::time_point startedAt_;
};

}  // namespace qm::bench
