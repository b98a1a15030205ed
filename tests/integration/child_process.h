// A program started for a test: its own working directory, standard output and error in files,
// no display to open windows on, waited for with a deadline and killed if it outlives the test.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace qm::test {

struct ChildLaunch {
    std::vector<std::string> argv;  // argv[0] is the program's path
    std::filesystem::path workingDirectory;
    std::filesystem::path stdoutFile;
    std::filesystem::path stderrFile;
};

class ChildProcess {
  public:
    explicit ChildProcess(ChildLaunch const& launch);
    ~ChildProcess();  // kills and reaps a child that is still running
    ChildProcess(ChildProcess const&) = delete;
    ChildProcess& operator=(ChildProcess const&) = delete;

    bool started() const { return pid_ > 0; }

    // The exit status once the child has ended, waiting at most `timeout`; nothing if it is
    // still running then. A child ended by a signal gives 128 + the signal number.
    std::optional<int> WaitFor(std::chrono::milliseconds timeout);

    // Sends `signal` to a running child.
    void Signal(int signal);

  private:
    pid_t pid_ = -1;
    std::optional<int> status_;
};

// Runs a program to its end, killing it after `timeout`; nothing when it had to be killed.
std::optional<int> RunToEnd(ChildLaunch const& launch, std::chrono::milliseconds timeout);

}  // namespace qm::test
