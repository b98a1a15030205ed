#include "faults/updater_child.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "e2e/updater_process.h"

extern char** environ;

namespace qm::faults {
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

// The test's environment without the variables that would make the updater open a window.
std::vector<std::string> ChildEnvironment() {
    std::vector<std::string> entries;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        std::string_view text = *entry;
        if (text.starts_with("DISPLAY=") || text.starts_with("WAYLAND_DISPLAY=")) {
            continue;
        }
        entries.emplace_back(text);
    }
    return entries;
}

// Only async-signal-safe calls between fork and exec.
[[noreturn]] void RunChild(char const* binary, char const* directory, int out, int err,
                           ChildConditions const& conditions, char* const* envp) {
    int const devNull = ::open("/dev/null", O_RDONLY);
    if (devNull < 0 || ::dup2(devNull, 0) < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0) {
        ::_exit(126);
    }
    // A test that dies must not leave its servers and updaters behind.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGXFSZ}) {
        ::signal(signal, SIG_DFL);
    }
    if (conditions.ignoreFileSizeSignal) {
        ::signal(SIGXFSZ, SIG_IGN);
    }
    if (conditions.fileSizeLimit) {
        rlimit const limit{*conditions.fileSizeLimit, *conditions.fileSizeLimit};
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) {
            ::_exit(125);
        }
    }
    if (conditions.user) {
        gid_t const group = static_cast<gid_t>(*conditions.user);
        if (::setgroups(0, nullptr) != 0 || ::setgid(group) != 0 ||
            ::setuid(*conditions.user) != 0) {
            ::_exit(124);
        }
    }
    if (::chdir(directory) != 0) {
        ::_exit(123);
    }
    char* const argv[] = {const_cast<char*>(binary), nullptr};
    ::execve(binary, argv, envp);
    ::_exit(127);
}

long SelfResidentKb() {
    std::ifstream in("/proc/self/status");
    for (std::string line; std::getline(in, line);) {
        if (line.starts_with("VmRSS:")) {
            return std::stol(line.substr(6));
        }
    }
    return 0;
}

}  // namespace

fs::path UpdaterBinaryPath() {
    return e2e::UpdaterBinary();
}

UpdaterChild::UpdaterChild(fs::path const& directory, ChildConditions conditions) {
    std::string const binary = UpdaterBinaryPath().string();
    std::string const where = directory.string();
    std::vector<std::string> environment = ChildEnvironment();
    std::vector<char*> envp;
    for (std::string& entry : environment) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);
    int out[2];
    int err[2];
    if (::pipe2(out, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "cannot create a pipe";
        return;
    }
    if (::pipe2(err, O_CLOEXEC) != 0) {
        ::close(out[0]);
        ::close(out[1]);
        ADD_FAILURE() << "cannot create a pipe";
        return;
    }
    forkedFromKb_ = SelfResidentKb();
    pid_ = ::fork();
    if (pid_ == 0) {
        RunChild(binary.c_str(), where.c_str(), out[1], err[1], conditions, envp.data());
    }
    ::close(out[1]);
    ::close(err[1]);
    if (pid_ < 0) {
        ADD_FAILURE() << "cannot fork: " << std::strerror(errno);
        ::close(out[0]);
        ::close(err[0]);
        return;
    }
    reader_ = std::thread([this, o = out[0], e = err[0]] { Collect(o, e); });
}

UpdaterChild::~UpdaterChild() {
    if (pid_ > 0 && !ending_) {
        ::kill(pid_, SIGKILL);
        int status = 0;
        rusage usage{};
        ::wait4(pid_, &status, 0, &usage);
    }
    if (reader_.joinable()) {
        reader_.join();
    }
}

void UpdaterChild::Collect(int outFd, int errFd) {
    // Both pipes end when the updater and everything that inherited them have ended; the
    // updater's descriptors are close-on-exec, so that is when the updater is gone.
    pollfd fds[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
    std::string* sinks[2] = {&out_, &err_};
    int open = 2;
    while (open > 0) {
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].revents == 0) {
                continue;
            }
            char chunk[4096];
            ssize_t const got = ::read(fds[i].fd, chunk, sizeof chunk);
            if (got <= 0) {
                fds[i].fd = -1;
                --open;
                continue;
            }
            std::lock_guard lock(mutex_);
            sinks[i]->append(chunk, static_cast<std::size_t>(got));
            changed_.notify_all();
        }
    }
    ::close(outFd);
    ::close(errFd);
    std::lock_guard lock(mutex_);
    outputEnded_ = true;
    changed_.notify_all();
}

bool UpdaterChild::WaitForLine(std::string const& line, Millis timeout) {
    auto const printed = [&] {
        std::vector<std::string> const lines = SplitLines(out_);
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    };
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, timeout, [&] { return printed() || outputEnded_; });
    return printed();
}

bool UpdaterChild::WaitForLineCount(std::size_t count, Millis timeout) {
    auto const enough = [&] {
        return static_cast<std::size_t>(std::count(out_.begin(), out_.end(), '\n')) >= count;
    };
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, timeout, [&] { return enough() || outputEnded_; });
    return enough();
}

void UpdaterChild::Signal(int signal) const {
    if (pid_ > 0 && !ending_) {
        ::kill(pid_, signal);
    }
}

void UpdaterChild::Reap(int status, rusage const& usage) {
    auto const millis = [](timeval const& time) {
        return time.tv_sec * 1000 + time.tv_usec / 1000;
    };
    ending_ =
        Ending{WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), usage.ru_maxrss,
               forkedFromKb_, millis(usage.ru_utime) + millis(usage.ru_stime)};
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, std::chrono::seconds(2), [&] { return outputEnded_; });
}

std::optional<Ending> UpdaterChild::PollExit() {
    if (ending_ || pid_ <= 0) {
        return ending_;
    }
    int status = 0;
    rusage usage{};
    if (::wait4(pid_, &status, WNOHANG, &usage) == pid_) {
        Reap(status, usage);
    }
    return ending_;
}

std::optional<Ending> UpdaterChild::WaitForExit(Millis timeout) {
    auto const deadline = Clock::now() + timeout;
    while (!PollExit() && pid_ > 0) {
        if (Clock::now() >= deadline) {
            ::kill(pid_, SIGKILL);
            int status = 0;
            rusage usage{};
            ::wait4(pid_, &status, 0, &usage);
            Reap(status, usage);
            ADD_FAILURE() << "the updater did not end within " << timeout.count()
                          << " ms and was killed\n"
                          << Transcript();
            return std::nullopt;
        }
        std::this_thread::sleep_for(Millis(5));
    }
    return ending_;
}

std::vector<std::string> UpdaterChild::Lines() const {
    std::lock_guard lock(mutex_);
    return SplitLines(out_);
}

std::vector<std::string> UpdaterChild::LinesStartingWith(std::string const& prefix) const {
    std::vector<std::string> matching;
    for (std::string const& line : Lines()) {
        if (line.starts_with(prefix)) {
            matching.push_back(line);
        }
    }
    return matching;
}

std::string UpdaterChild::Output() const {
    std::lock_guard lock(mutex_);
    return out_;
}

std::string UpdaterChild::Transcript() const {
    std::lock_guard lock(mutex_);
    std::string text = "--- updater output ---\n" + out_;
    if (!err_.empty()) {
        text += "--- updater errors ---\n" + err_;
    }
    return text + "--- end ---";
}

}  // namespace qm::faults
