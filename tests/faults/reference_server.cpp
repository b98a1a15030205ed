#include "faults/reference_server.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <thread>

namespace qm::faults {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Only async-signal-safe calls between fork and exec.
[[noreturn]] void RunServer(char* const* argv, char const* log) {
    int const devNull = ::open("/dev/null", O_RDWR);
    int const logFd = ::open(log, O_WRONLY | O_CREAT | O_TRUNC | O_APPEND, 0644);
    if (devNull < 0 || logFd < 0 || ::dup2(devNull, 0) < 0 || ::dup2(devNull, 1) < 0 ||
        ::dup2(logFd, 2) < 0) {
        ::_exit(126);
    }
    // A test that dies must not leave its servers and updaters behind.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
        ::signal(signal, SIG_DFL);
    }
    ::execv(argv[0], argv);
    ::_exit(127);
}

}  // namespace

fs::path ServerBinaryPath() {
#ifdef QM_SERVER_BINARY
    return QM_SERVER_BINARY;
#else
    return {};
#endif
}

ReferenceServer::ReferenceServer(fs::path const& workDirectory, std::string const& address,
                                 fs::path const& release,
                                 std::vector<std::string> const& extraArguments)
    : log_(workDirectory / ("server-" + address + ".log")) {
    std::vector<std::string> argv = {ServerBinaryPath().string(), "--root", release.string(),
                                     "--listen", address};
    argv.insert(argv.end(), extraArguments.begin(), extraArguments.end());
    std::vector<char*> pointers;
    for (std::string& word : argv) {
        pointers.push_back(word.data());
    }
    pointers.push_back(nullptr);
    std::string const log = log_.string();
    pid_ = ::fork();
    if (pid_ == 0) {
        RunServer(pointers.data(), log.c_str());
    }
}

ReferenceServer::~ReferenceServer() {
    if (pid_ > 0 && !status_) {
        Stop();
    }
}

bool ReferenceServer::Ready() {
    return WaitForLog("listening on", 1, std::chrono::seconds(10));
}

std::string ReferenceServer::Log() const {
    std::ifstream in(log_, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

bool ReferenceServer::WaitForLog(std::string_view text, std::size_t times,
                                 std::chrono::milliseconds timeout) {
    auto const deadline = Clock::now() + timeout;
    for (;;) {
        if (Occurrences(Log(), text) >= times) {
            return true;
        }
        int status = 0;
        if (pid_ <= 0 || Clock::now() >= deadline || ::waitpid(pid_, &status, WNOHANG) == pid_) {
            return Occurrences(Log(), text) >= times;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

std::optional<int> ReferenceServer::Stop() {
    if (pid_ <= 0) {
        return std::nullopt;
    }
    if (status_) {
        return status_;
    }
    ::kill(pid_, SIGTERM);
    auto const deadline = Clock::now() + std::chrono::seconds(10);
    int status = 0;
    while (::waitpid(pid_, &status, WNOHANG) != pid_) {
        if (Clock::now() >= deadline) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return status_;
}

int OpenDescriptorCount(pid_t pid) {
    std::error_code error;
    int count = 0;
    for (auto it = fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error);
         !error && it != fs::directory_iterator(); it.increment(error)) {
        ++count;
    }
    return error ? -1 : count;
}

long ResidentKb(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(in, line);) {
        if (line.starts_with("VmRSS:")) {
            return std::stol(line.substr(6));
        }
    }
    return -1;
}

std::size_t Occurrences(std::string_view haystack, std::string_view text) {
    std::size_t count = 0;
    for (std::size_t at = haystack.find(text); at != std::string_view::npos;
         at = haystack.find(text, at + text.size())) {
        ++count;
    }
    return count;
}

}  // namespace qm::faults
