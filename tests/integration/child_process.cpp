#include "child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string_view>
#include <thread>

namespace qm::test {
namespace {

int StatusOf(int raw) {
    if (WIFEXITED(raw)) {
        return WEXITSTATUS(raw);
    }
    return 128 + WTERMSIG(raw);
}

// The test's environment without the display variables: a program under test never opens a
// window on the desktop the tests happen to run on.
std::vector<std::string> ChildEnvironment() {
    std::vector<std::string> environment;
    for (char** variable = environ; *variable != nullptr; ++variable) {
        std::string_view const entry(*variable);
        if (!entry.starts_with("DISPLAY=") && !entry.starts_with("WAYLAND_DISPLAY=")) {
            environment.emplace_back(entry);
        }
    }
    return environment;
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    for (std::string& text : strings) {
        pointers.push_back(text.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

// Only async-signal-safe calls between fork and exec: everything is prepared before.
[[noreturn]] void BecomeChild(char const* directory, char const* out, char const* err,
                              std::vector<char*> const& argv, std::vector<char*> const& envp) {
    int const outFd = ::open(out, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int const errFd = ::open(err, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int const nullFd = ::open("/dev/null", O_RDONLY);
    if (outFd < 0 || errFd < 0 || nullFd < 0 || ::chdir(directory) != 0) {
        ::_exit(127);
    }
    ::dup2(nullFd, 0);
    ::dup2(outFd, 1);
    ::dup2(errFd, 2);
    ::execve(argv[0], argv.data(), envp.data());
    ::_exit(127);
}

}  // namespace

ChildProcess::ChildProcess(ChildLaunch const& launch) {
    std::vector<std::string> arguments = launch.argv;
    std::vector<char*> const argv = Pointers(arguments);
    std::vector<std::string> environment = ChildEnvironment();
    std::vector<char*> const envp = Pointers(environment);
    std::string const directory = launch.workingDirectory.string();
    std::string const out = launch.stdoutFile.string();
    std::string const err = launch.stderrFile.string();
    pid_ = ::fork();
    if (pid_ == 0) {
        BecomeChild(directory.c_str(), out.c_str(), err.c_str(), argv, envp);
    }
}

ChildProcess::~ChildProcess() {
    if (started() && !status_) {
        ::kill(pid_, SIGKILL);
        int raw = 0;
        ::waitpid(pid_, &raw, 0);
    }
}

std::optional<int> ChildProcess::WaitFor(std::chrono::milliseconds timeout) {
    auto const deadline = std::chrono::steady_clock::now() + timeout;
    while (started() && !status_) {
        int raw = 0;
        pid_t const ended = ::waitpid(pid_, &raw, WNOHANG);
        if (ended == pid_) {
            status_ = StatusOf(raw);
            break;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return status_;
}

void ChildProcess::Signal(int signal) {
    if (started() && !status_) {
        ::kill(pid_, signal);
    }
}

std::optional<int> RunToEnd(ChildLaunch const& launch, std::chrono::milliseconds timeout) {
    ChildProcess child(launch);
    return child.WaitFor(timeout);
}

}  // namespace qm::test
