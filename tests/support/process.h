// A program started for a test or a benchmark: its arguments, environment and working directory,
// standard input fed from a text, standard output and error captured by a thread of its own (so
// the program never blocks on a full pipe), and every wait for it bounded. It is reaped with
// wait4, so its exit status or signal, CPU time and peak memory are known; one that outlives its
// wait, or the object, is killed. It also dies with the test process.
#pragma once

#include <sys/resource.h>
#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace qm::test {

using Millis = std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

struct ProcessOptions {
    std::vector<std::string> argv{};    // argv[0] is the program's path
    std::filesystem::path directory{};  // empty: the test's own
    // Variables set (a value) or removed (no value). DISPLAY and WAYLAND_DISPLAY are removed
    // unless given here: a program under test never opens a window on the tests' desktop.
    std::map<std::string, std::optional<std::string>> environment{};
    std::optional<std::string> input{};       // standard input; without it /dev/null
    std::optional<uid_t> user{};              // run as this user (and its group, the same number)
    std::optional<rlim_t> fileSizeLimit{};    // RLIMIT_FSIZE in bytes
    std::optional<rlim_t> descriptorLimit{};  // RLIMIT_NOFILE
    bool ignoreFileSizeSignal = true;         // SIGXFSZ ignored: a file size limit fails a write
    int passFd = -1;                          // a descriptor left open for the program
};

struct Ending {
    int status = -1;  // exit code, or 128 + signal
    // ru_maxrss. It also counts what the forked copy of the test process held before the exec,
    // so it is the program's own peak only when it lies above `forkedFromKb`.
    long peakMemoryKb = 0;
    long forkedFromKb = 0;  // the test process's resident memory when it forked
    long cpuMillis = 0;     // user and system time
    bool killedBySignal() const { return status >= 128; }
};

struct TimedLine {
    Clock::time_point at;
    std::string text;
};

class Process {
  public:
    explicit Process(ProcessOptions const& options);
    ~Process();  // kills a program that is still running
    Process(Process const&) = delete;
    Process& operator=(Process const&) = delete;

    pid_t pid() const { return pid_; }
    bool started() const { return pid_ > 0; }
    bool running() const { return pid_ > 0 && !ending_; }
    Clock::time_point startedAt() const { return startedAt_; }

    // Waits until `printed` holds for the standard output and error so far, or the output ended,
    // or time ran out; tells whether it holds.
    bool WaitUntil(std::function<bool(std::string const& out, std::string const& err)> printed,
                   Millis timeout);
    // Waits until `line` has been printed on standard output (exactly).
    bool WaitForLine(std::string const& line, Millis timeout);
    // Waits until at least `count` lines have been printed.
    bool WaitForLineCount(std::size_t count, Millis timeout);

    void Signal(int signal) const;

    // The ending; on timeout the program is killed and the result is empty (timedOut() then).
    std::optional<Ending> WaitForExit(Millis timeout = Millis(30000));
    // The exit status (128 + the signal for a killed program), as WaitForExit.
    std::optional<int> ExitStatus(Millis timeout = Millis(30000));
    // The ending if the program has ended already.
    std::optional<Ending> PollExit();
    bool timedOut() const { return timedOut_; }

    std::vector<std::string> Lines() const;
    std::vector<std::string> LinesStartingWith(std::string const& prefix) const;
    std::vector<std::string> Boxes() const { return LinesStartingWith("box: "); }
    std::vector<TimedLine> TimedLines() const;  // each output line with the time it arrived
    std::string Output() const;                 // standard output, byte for byte
    std::string ErrorOutput() const;            // standard error
    // `expected` occurs in the output lines in this order (other lines may come between); empty
    // when it does, else what is missing.
    std::string MissingInOrder(std::vector<std::string> const& expected) const;
    // Everything the program printed, for failure messages.
    std::string Transcript() const;

  private:
    void Collect(int outFd, int errFd, int inFd, int stopFd);
    void Take(int stream, char const* bytes, std::size_t count);
    void Reap(int status, rusage const& usage);

    pid_t pid_ = -1;
    int stopWrite_ = -1;  // closing it ends the reader
    std::string input_;
    Clock::time_point startedAt_;
    std::thread reader_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::string out_;
    std::string err_;
    std::vector<TimedLine> lines_;
    bool outputEnded_ = false;
    std::optional<Ending> ending_;
    bool timedOut_ = false;
    long forkedFromKb_ = 0;
};

std::vector<std::string> SplitLines(std::string const& text);
// Occurrences of `text` in `haystack`.
std::size_t Occurrences(std::string_view haystack, std::string_view text);

// The updater binary: QM_UPDATER_BINARY, or where the build puts it beside the test program.
std::filesystem::path UpdaterBinary();
// The updater, run in `directory`.
ProcessOptions UpdaterOptions(std::filesystem::path const& directory);

// Open descriptors of a process (entries of /proc/PID/fd); -1 when it cannot be read.
int OpenDescriptorCount(pid_t pid);
// VmRSS of a process in KiB; -1 when it cannot be read.
long ResidentKb(pid_t pid);
// VmHWM, the peak of VmRSS since the process's program started, in KiB; -1 when unknown.
long PeakResidentKb(pid_t pid);

}  // namespace qm::test
