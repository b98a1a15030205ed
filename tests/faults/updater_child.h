// One run of the real updater binary with the conditions a fault test needs: another user, a file
// size limit, the file size signal's disposition. Its standard output is a pipe (the plain
// lines), read as they come by a thread of its own; the run is reaped with wait4, so that its peak
// memory is known. Every wait is bounded, and a run that outlives its wait is killed.
#pragma once

#include <sys/resource.h>
#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace qm::faults {

using Millis = std::chrono::milliseconds;

struct ChildConditions {
    std::optional<uid_t> user;            // run as this user (and its group, the same number)
    std::optional<rlim_t> fileSizeLimit;  // RLIMIT_FSIZE in bytes
    bool ignoreFileSizeSignal = true;     // SIGXFSZ ignored in the child before exec
};

struct Ending {
    int status = -1;  // exit code, or 128 + signal
    // ru_maxrss. It also counts what the forked copy of the test process held before the exec,
    // so it is the updater's own peak only when it lies above `forkedFromKb`.
    long peakMemoryKb = 0;
    long forkedFromKb = 0;  // the test process's resident memory when it forked the updater
    long cpuMillis = 0;     // user and system time
    bool killedBySignal() const { return status >= 128; }
};

class UpdaterChild {
  public:
    explicit UpdaterChild(std::filesystem::path const& directory, ChildConditions conditions = {});
    ~UpdaterChild();  // kills a run that is still going
    UpdaterChild(UpdaterChild const&) = delete;
    UpdaterChild& operator=(UpdaterChild const&) = delete;

    pid_t pid() const { return pid_; }
    bool running() const { return pid_ > 0 && !ending_; }

    // Waits until `line` has been printed (exactly), or the output ended, or time ran out.
    bool WaitForLine(std::string const& line, Millis timeout);
    // Waits until at least `count` lines have been printed; false when the output ended first or
    // time ran out.
    bool WaitForLineCount(std::size_t count, Millis timeout);

    void Signal(int signal) const;

    // The ending; on timeout the run is killed, a failure recorded and the result is empty.
    std::optional<Ending> WaitForExit(Millis timeout = Millis(30000));
    // The ending if the run has ended already.
    std::optional<Ending> PollExit();

    std::vector<std::string> Lines() const;
    std::vector<std::string> LinesStartingWith(std::string const& prefix) const;
    std::vector<std::string> Boxes() const { return LinesStartingWith("box: "); }
    std::string Output() const;
    std::string Transcript() const;

  private:
    void Collect(int outFd, int errFd);
    void Reap(int status, rusage const& usage);

    pid_t pid_ = -1;
    std::thread reader_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::string out_;
    std::string err_;
    bool outputEnded_ = false;
    std::optional<Ending> ending_;
    long forkedFromKb_ = 0;
};

// The path of the updater binary (QM_UPDATER_BINARY under ctest).
std::filesystem::path UpdaterBinaryPath();

}  // namespace qm::faults
