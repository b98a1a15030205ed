// One run of the real updater binary in a client directory. Its standard output goes to a pipe,
// so it reports every event as one line ("status: ...", "transfer: ...", "progress: N",
// "box: [CAPTION] TEXT", "launch: ..."); a reader thread collects the lines as they come, so the
// updater never blocks on a full pipe. A run that outlives its wait is killed.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace qm::e2e {

class UpdaterProcess {
  public:
    // Starts the binary named by QM_UPDATER_BINARY in `directory`, stdin from /dev/null.
    explicit UpdaterProcess(std::filesystem::path const& directory);
    ~UpdaterProcess();  // kills a run that is still going
    UpdaterProcess(UpdaterProcess const&) = delete;
    UpdaterProcess& operator=(UpdaterProcess const&) = delete;

    bool started() const { return pid_ > 0; }

    // Waits until `line` has been printed (exactly), or the updater ended, or time ran out.
    bool WaitForLine(std::string const& line, std::chrono::milliseconds timeout);

    void Signal(int signal) const;

    // The exit status (128 + the signal for a killed process). On timeout the updater is killed,
    // a test failure is recorded, and the result is empty.
    std::optional<int> WaitForExit(std::chrono::milliseconds timeout = std::chrono::seconds(30));

    std::vector<std::string> Lines() const;
    std::vector<std::string> LinesStartingWith(std::string const& prefix) const;
    std::string Output() const;       // stdout as it came, byte for byte
    std::string ErrorOutput() const;  // stderr

    // `expected` occurs in the output lines in this order (other lines may come between).
    ::testing::AssertionResult PrintedInOrder(std::vector<std::string> const& expected) const;

    // Everything the updater printed, for failure messages.
    std::string Transcript() const;

  private:
    void Collect(int outFd, int errFd, int stopFd);
    void Reap(int status);

    pid_t pid_ = -1;
    int stopWrite_ = -1;  // closing it ends the reader
    std::thread reader_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::string out_;
    std::string err_;
    bool outputEnded_ = false;
    std::optional<int> exitStatus_;
};

// Where the updater binary is: QM_UPDATER_BINARY, or beside this test's build tree.
std::filesystem::path UpdaterBinary();

}  // namespace qm::e2e
