#include "child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

extern char** environ;

namespace qm::app::qt::test {
namespace {

using Clock = std::chrono::steady_clock;

std::vector<std::string> ChangedEnvironment(EnvironmentChanges const& changes) {
    std::vector<std::string> result;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        std::string const variable(*entry);
        std::string const name = variable.substr(0, variable.find('='));
        if (!changes.contains(name)) {
            result.push_back(variable);
        }
    }
    for (auto const& [name, value] : changes) {
        if (value) {
            result.push_back(name + "=" + *value);
        }
    }
    return result;
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    for (std::string& text : strings) {
        pointers.push_back(text.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

}  // namespace

ChildProcess::ChildProcess(std::vector<std::string> const& argv, EnvironmentChanges const& changes,
                           int passFd) {
    std::vector<std::string> arguments = argv;
    std::vector<std::string> environment = ChangedEnvironment(changes);
    std::vector<char*> argumentPointers = Pointers(arguments);
    std::vector<char*> environmentPointers = Pointers(environment);
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) {
        return;
    }
    pid_ = fork();
    if (pid_ == 0) {
        dup2(ends[1], STDOUT_FILENO);
        if (passFd >= 0) {
            fcntl(passFd, F_SETFD, 0);
        }
        execve(argumentPointers[0], argumentPointers.data(), environmentPointers.data());
        _exit(127);
    }
    close(ends[1]);
    output_ = ends[0];
    fcntl(output_, F_SETFL, O_NONBLOCK);
}

ChildProcess::~ChildProcess() {
    if (pid_ > 0 && !status_) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    if (output_ >= 0) {
        close(output_);
    }
}

void ChildProcess::Signal(int signal) const {
    if (pid_ > 0 && !status_) {
        kill(pid_, signal);
    }
}

std::optional<int> ChildProcess::WaitForExit(Millis timeout) {
    auto const until = Clock::now() + timeout;
    while (pid_ > 0 && !status_ && Clock::now() < until) {
        int raw = 0;
        pid_t const ended = waitpid(pid_, &raw, WNOHANG);
        if (ended == pid_) {
            status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
        } else {
            Output();
            usleep(10000);
        }
    }
    return status_;
}

std::string ChildProcess::Output() {
    char buffer[4096];
    ssize_t got = 0;
    while (output_ >= 0 && (got = read(output_, buffer, sizeof buffer)) > 0) {
        collected_.append(buffer, static_cast<std::size_t>(got));
    }
    return collected_;
}

VirtualDisplay::VirtualDisplay() {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) {
        return;
    }
    server_.emplace(std::vector<std::string>{"/usr/bin/Xvfb", "-displayfd", std::to_string(ends[1]),
                                             "-nolisten", "tcp", "-screen", "0", "1024x768x24"},
                    EnvironmentChanges{}, ends[1]);
    close(ends[1]);
    // Xvfb writes its display number and a newline once it accepts connections.
    auto const until = Clock::now() + kStepTimeout;
    std::string number;
    while (server_->started() && Clock::now() < until && number.find('\n') == std::string::npos) {
        auto const left = std::chrono::duration_cast<Millis>(until - Clock::now()).count();
        struct pollfd ready {
            ends[0], POLLIN, 0
        };
        if (poll(&ready, 1, static_cast<int>(std::max<long>(left, 0))) <= 0) {
            break;
        }
        char buffer[16];
        ssize_t const got = read(ends[0], buffer, sizeof buffer);
        if (got <= 0) {
            break;
        }
        number.append(buffer, static_cast<std::size_t>(got));
    }
    close(ends[0]);
    if (std::size_t const end = number.find('\n'); end != std::string::npos) {
        name_.assign(1, ':').append(number, 0, end);
    }
}

VirtualDisplay::~VirtualDisplay() {
    // Asked to end, so that it removes its lock file and socket.
    if (server_) {
        server_->Signal(SIGTERM);
        server_->WaitForExit();
    }
}

}  // namespace qm::app::qt::test
