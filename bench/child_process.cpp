#include "child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace qm::bench {
namespace {

double Seconds(timeval const& time) {
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) * 1e-6;
}

}  // namespace

ChildProcess::ChildProcess(std::string const& program, std::vector<std::string> const& arguments,
                           std::string const& directory, int stdoutFd,
                           std::string const& stderrPath) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, directory.c_str());
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (stdoutFd >= 0) {
        posix_spawn_file_actions_adddup2(&actions, stdoutFd, 1);
    } else {
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    }
    posix_spawn_file_actions_addopen(&actions, 2,
                                     stderrPath.empty() ? "/dev/null" : stderrPath.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (std::string const& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    startedAt_ = std::chrono::steady_clock::now();
    if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ) != 0) {
        pid_ = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
}

ChildProcess::~ChildProcess() {
    if (pid_ > 0) {
        Stop();
    }
}

double ChildProcess::CpuSecondsSoFar() const {
    std::ifstream stat("/proc/" + std::to_string(pid_) + "/stat");
    std::string line;
    std::getline(stat, line);
    // The command name may hold blanks; the fields after it are counted from its closing ')'.
    std::size_t const close = line.rfind(')');
    if (close == std::string::npos) {
        return 0;
    }
    std::istringstream fields(line.substr(close + 2));
    std::string field;
    unsigned long long user = 0;
    unsigned long long system = 0;
    for (int index = 3; fields >> field; ++index) {
        if (index == 14) {
            user = std::stoull(field);
        } else if (index == 15) {
            system = std::stoull(field);
            break;
        }
    }
    return static_cast<double>(user + system) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

std::optional<ChildProcess::Exit> ChildProcess::Wait(std::chrono::milliseconds timeout) {
    auto const deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        int status = 0;
        rusage usage{};
        pid_t const done = ::wait4(pid_, &status, WNOHANG, &usage);
        if (done == pid_) {
            pid_ = -1;
            Exit exit;
            exit.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            exit.peakResidentKiB = usage.ru_maxrss;
            exit.cpuSeconds = Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
            return exit;
        }
        if (done < 0 || std::chrono::steady_clock::now() >= deadline) {
            return std::nullopt;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

std::optional<ChildProcess::Exit> ChildProcess::Stop() {
    if (pid_ <= 0) {
        return std::nullopt;
    }
    ::kill(pid_, SIGTERM);
    if (auto exit = Wait(std::chrono::seconds(10))) {
        return exit;
    }
    ::kill(pid_, SIGKILL);
    return Wait(std::chrono::seconds(10));
}

}  // namespace qm::bench
