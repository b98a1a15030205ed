#include "e2e/updater_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <sstream>

namespace qm::e2e {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::vector<std::string> SplitLines(std::string const& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

struct Pipe {
    int read = -1;
    int write = -1;
    bool Open() {
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) != 0) {
            return false;
        }
        read = ends[0];
        write = ends[1];
        return true;
    }
};

// Only async-signal-safe calls between fork and exec.
[[noreturn]] void RunChild(char const* binary, char const* directory, int out, int err) {
    int const devNull = ::open("/dev/null", O_RDONLY);
    if (devNull < 0 || ::dup2(devNull, 0) < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0 ||
        ::chdir(directory) != 0) {
        ::_exit(126);
    }
    char* const argv[] = {const_cast<char*>(binary), nullptr};
    ::execv(binary, argv);
    ::_exit(127);
}

}  // namespace

fs::path UpdaterBinary() {
    if (char const* named = std::getenv("QM_UPDATER_BINARY"); named != nullptr && *named != 0) {
        return named;
    }
    std::error_code error;
    fs::path const self = fs::read_symlink("/proc/self/exe", error);
    return self.parent_path().parent_path() / "src" / "app" / "quillmesh-updater";
}

UpdaterProcess::UpdaterProcess(fs::path const& directory) {
    std::string const binary = UpdaterBinary().string();
    std::string const where = directory.string();
    Pipe out;
    Pipe err;
    Pipe stop;
    if (!out.Open() || !err.Open() || !stop.Open()) {
        ADD_FAILURE() << "cannot create pipes";
        return;
    }
    // These runs check the plain output: a display in the test's environment must not make the
    // updater open its window.
    ::unsetenv("DISPLAY");
    ::unsetenv("WAYLAND_DISPLAY");
    pid_ = ::fork();
    if (pid_ == 0) {
        RunChild(binary.c_str(), where.c_str(), out.write, err.write);
    }
    ::close(out.write);
    ::close(err.write);
    stopWrite_ = stop.write;
    if (pid_ < 0) {
        ADD_FAILURE() << "cannot fork";
    }
    reader_ = std::thread([this, out, err, stop] { Collect(out.read, err.read, stop.read); });
}

UpdaterProcess::~UpdaterProcess() {
    if (pid_ > 0 && !exitStatus_) {
        ::kill(pid_, SIGKILL);
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }
    if (stopWrite_ >= 0) {
        ::close(stopWrite_);
    }
    if (reader_.joinable()) {
        reader_.join();
    }
}

void UpdaterProcess::Collect(int outFd, int errFd, int stopFd) {
    pollfd fds[3] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}, {stopFd, POLLIN, 0}};
    std::string* sinks[2] = {&out_, &err_};
    int open = 2;
    while (open > 0) {
        if (::poll(fds, 3, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        if (fds[2].revents != 0) {
            break;  // the owner is done with this run
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].revents == 0) {
                continue;
            }
            char chunk[4096];
            ssize_t const got = ::read(fds[i].fd, chunk, sizeof chunk);
            if (got <= 0) {
                fds[i].fd = -1;  // poll skips negative descriptors
                --open;
                continue;
            }
            std::lock_guard lock(mutex_);
            sinks[i]->append(chunk, static_cast<std::size_t>(got));
            changed_.notify_all();
        }
    }
    {
        std::lock_guard lock(mutex_);
        outputEnded_ = true;
        changed_.notify_all();
    }
    ::close(outFd);
    ::close(errFd);
    ::close(stopFd);
}

bool UpdaterProcess::WaitForLine(std::string const& line, std::chrono::milliseconds timeout) {
    auto const printed = [&] {
        std::vector<std::string> const lines = SplitLines(out_);
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    };
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, timeout, [&] { return printed() || outputEnded_; });
    return printed();
}

void UpdaterProcess::Signal(int signal) const {
    if (pid_ > 0 && !exitStatus_) {
        ::kill(pid_, signal);
    }
}

void UpdaterProcess::Reap(int status) {
    exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    // The updater has written everything it will; give the reader a moment to take it in. A
    // program that the updater launched may hold the pipe open longer, so this wait is short.
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, std::chrono::seconds(2), [&] { return outputEnded_; });
}

std::optional<int> UpdaterProcess::WaitForExit(std::chrono::milliseconds timeout) {
    if (exitStatus_ || pid_ <= 0) {
        return exitStatus_;
    }
    auto const deadline = Clock::now() + timeout;
    int status = 0;
    while (Clock::now() < deadline) {
        pid_t const done = ::waitpid(pid_, &status, WNOHANG);
        if (done == pid_) {
            Reap(status);
            return exitStatus_;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, &status, 0);
    Reap(status);
    ADD_FAILURE() << "the updater did not end within " << timeout.count() << " ms and was killed\n"
                  << Transcript();
    return std::nullopt;
}

std::vector<std::string> UpdaterProcess::Lines() const {
    std::lock_guard lock(mutex_);
    return SplitLines(out_);
}

std::vector<std::string> UpdaterProcess::LinesStartingWith(std::string const& prefix) const {
    std::vector<std::string> matching;
    for (std::string const& line : Lines()) {
        if (line.starts_with(prefix)) {
            matching.push_back(line);
        }
    }
    return matching;
}

std::string UpdaterProcess::Output() const {
    std::lock_guard lock(mutex_);
    return out_;
}

std::string UpdaterProcess::ErrorOutput() const {
    std::lock_guard lock(mutex_);
    return err_;
}

std::string UpdaterProcess::Transcript() const {
    std::lock_guard lock(mutex_);
    std::string text = "--- updater output ---\n" + out_;
    if (!err_.empty()) {
        text += "--- updater errors ---\n" + err_;
    }
    return text + "--- end ---";
}

::testing::AssertionResult UpdaterProcess::PrintedInOrder(
    std::vector<std::string> const& expected) const {
    std::vector<std::string> const lines = Lines();
    auto next = lines.begin();
    for (std::string const& wanted : expected) {
        next = std::find(next, lines.end(), wanted);
        if (next == lines.end()) {
            return ::testing::AssertionFailure()
                   << "missing, or out of order: \"" << wanted << "\"\n"
                   << Transcript();
        }
        ++next;
    }
    return ::testing::AssertionSuccess();
}

}  // namespace qm::e2e
