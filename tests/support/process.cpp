#include "support/process.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>

extern char** environ;

namespace qm::test {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> Environment(ProcessOptions const& options) {
    std::map<std::string, std::optional<std::string>> changes = {{"DISPLAY", std::nullopt},
                                                                 {"WAYLAND_DISPLAY", std::nullopt}};
    for (auto const& [name, value] : options.environment) {
        changes[name] = value;
    }
    std::vector<std::string> entries;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        std::string_view const text = *entry;
        if (!changes.contains(std::string(text.substr(0, text.find('='))))) {
            entries.emplace_back(text);
        }
    }
    for (auto const& [name, value] : changes) {
        if (value) {
            entries.push_back(name + "=" + *value);
        }
    }
    return entries;
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    for (std::string& text : strings) {
        pointers.push_back(text.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

struct Pipe {
    int ends[2] = {-1, -1};
    bool Open() { return ::pipe2(ends, O_CLOEXEC) == 0; }
    int read() const { return ends[0]; }
    int write() const { return ends[1]; }
};

// Only async-signal-safe calls between fork and exec: everything is prepared before.
[[noreturn]] void BecomeChild(ProcessOptions const& options, char const* directory, int in, int out,
                              int err, char* const* argv, char* const* envp) {
    int const devNull = ::open("/dev/null", O_RDONLY);
    if (devNull < 0 || ::dup2(in >= 0 ? in : devNull, 0) < 0 || ::dup2(out, 1) < 0 ||
        ::dup2(err, 2) < 0) {
        ::_exit(126);
    }
    if (options.passFd >= 0) {
        ::fcntl(options.passFd, F_SETFD, 0);
    }
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);  // a test that dies leaves nothing running behind it
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGXFSZ}) {
        ::signal(signal, SIG_DFL);
    }
    if (options.ignoreFileSizeSignal) {
        ::signal(SIGXFSZ, SIG_IGN);
    }
    if (options.fileSizeLimit) {
        rlimit const limit{*options.fileSizeLimit, *options.fileSizeLimit};
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) {
            ::_exit(125);
        }
    }
    if (options.descriptorLimit) {
        rlimit const limit{*options.descriptorLimit, *options.descriptorLimit};
        if (::setrlimit(RLIMIT_NOFILE, &limit) != 0) {
            ::_exit(125);
        }
    }
    if (options.user) {
        gid_t const group = static_cast<gid_t>(*options.user);
        if (::setgroups(0, nullptr) != 0 || ::setgid(group) != 0 || ::setuid(*options.user) != 0) {
            ::_exit(124);
        }
    }
    if (*directory != '\0' && ::chdir(directory) != 0) {
        ::_exit(123);
    }
    ::execve(argv[0], argv, envp);
    ::_exit(127);
}

}  // namespace

std::vector<std::string> SplitLines(std::string const& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

std::size_t Occurrences(std::string_view haystack, std::string_view text) {
    std::size_t count = 0;
    for (std::size_t at = haystack.find(text); at != std::string_view::npos;
         at = haystack.find(text, at + text.size())) {
        ++count;
    }
    return count;
}

Process::Process(ProcessOptions const& options) : input_(options.input.value_or("")) {
    std::vector<std::string> arguments = options.argv;
    std::vector<char*> const argv = Pointers(arguments);
    std::vector<std::string> environment = Environment(options);
    std::vector<char*> const envp = Pointers(environment);
    std::string const directory = options.directory.string();
    Pipe in;
    Pipe out;
    Pipe err;
    Pipe stop;
    if ((options.input && !in.Open()) || !out.Open() || !err.Open() || !stop.Open()) {
        return;
    }
    forkedFromKb_ = ResidentKb(::getpid());
    startedAt_ = Clock::now();
    pid_ = ::fork();
    if (pid_ == 0) {
        BecomeChild(options, directory.c_str(), in.read(), out.write(), err.write(), argv.data(),
                    envp.data());
    }
    for (int end : {in.read(), out.write(), err.write()}) {
        if (end >= 0) {
            ::close(end);
        }
    }
    if (in.write() >= 0) {
        ::fcntl(in.write(), F_SETFL, O_NONBLOCK);
    }
    stopWrite_ = stop.write();
    reader_ = std::thread(
        [this, in, out, err, stop] { Collect(out.read(), err.read(), in.write(), stop.read()); });
}

Process::~Process() {
    if (running()) {
        ::kill(pid_, SIGKILL);
        int status = 0;
        rusage usage{};
        ::wait4(pid_, &status, 0, &usage);
    }
    if (stopWrite_ >= 0) {
        ::close(stopWrite_);
    }
    if (reader_.joinable()) {
        reader_.join();
    }
}

void Process::Collect(int outFd, int errFd, int inFd, int stopFd) {
    // The output ends when the program and everything that inherited its pipes have ended, or
    // when the owner is done with the program (a program it launched may hold the pipes longer).
    pollfd fds[4] = {
        {outFd, POLLIN, 0}, {errFd, POLLIN, 0}, {stopFd, POLLIN, 0}, {inFd, POLLOUT, 0}};
    std::size_t written = 0;
    if (inFd >= 0 && input_.empty()) {
        ::close(inFd);
        fds[3].fd = -1;
    }
    int open = 2;
    while (open > 0) {
        if (::poll(fds, 4, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        if (fds[2].revents != 0) {
            break;
        }
        if (fds[3].fd >= 0 && fds[3].revents != 0) {
            ssize_t const done =
                ::write(fds[3].fd, input_.data() + written, input_.size() - written);
            written += done > 0 ? static_cast<std::size_t>(done) : 0;
            if ((done < 0 && errno != EAGAIN) || written == input_.size()) {
                ::close(fds[3].fd);
                fds[3].fd = -1;
            }
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) {
                continue;
            }
            char chunk[4096];
            ssize_t const got = ::read(fds[i].fd, chunk, sizeof chunk);
            if (got <= 0) {
                ::close(fds[i].fd);
                fds[i].fd = -1;  // poll skips negative descriptors
                --open;
                continue;
            }
            Take(i, chunk, static_cast<std::size_t>(got));
        }
    }
    for (int i : {0, 1, 2, 3}) {
        if (fds[i].fd >= 0) {
            ::close(fds[i].fd);
        }
    }
    std::lock_guard lock(mutex_);
    outputEnded_ = true;
    changed_.notify_all();
}

void Process::Take(int stream, char const* bytes, std::size_t count) {
    std::lock_guard lock(mutex_);
    std::string& sink = stream == 0 ? out_ : err_;
    std::size_t lineStart = sink.rfind('\n') == std::string::npos ? 0 : sink.rfind('\n') + 1;
    sink.append(bytes, count);
    if (stream == 0) {
        for (std::size_t end = sink.find('\n', lineStart); end != std::string::npos;
             lineStart = end + 1, end = sink.find('\n', lineStart)) {
            lines_.push_back({Clock::now(), sink.substr(lineStart, end - lineStart)});
        }
    }
    changed_.notify_all();
}

bool Process::WaitUntil(std::function<bool(std::string const&, std::string const&)> printed,
                        Millis timeout) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, timeout, [&] { return printed(out_, err_) || outputEnded_; });
    return printed(out_, err_);
}

bool Process::WaitForLine(std::string const& line, Millis timeout) {
    return WaitUntil(
        [&](std::string const& out, std::string const&) {
            std::vector<std::string> const lines = SplitLines(out);
            return std::find(lines.begin(), lines.end(), line) != lines.end();
        },
        timeout);
}

bool Process::WaitForLineCount(std::size_t count, Millis timeout) {
    return WaitUntil(
        [&](std::string const& out, std::string const&) {
            return static_cast<std::size_t>(std::count(out.begin(), out.end(), '\n')) >= count;
        },
        timeout);
}

void Process::Signal(int signal) const {
    if (running()) {
        ::kill(pid_, signal);
    }
}

void Process::Reap(int status, rusage const& usage) {
    auto const millis = [](timeval const& time) {
        return time.tv_sec * 1000 + time.tv_usec / 1000;
    };
    ending_ =
        Ending{WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), usage.ru_maxrss,
               forkedFromKb_, millis(usage.ru_utime) + millis(usage.ru_stime)};
    // The program has written everything it will; give the reader a moment to take it in. A
    // program that it launched may hold the pipes open longer, so this wait is short.
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, std::chrono::seconds(2), [&] { return outputEnded_; });
}

std::optional<Ending> Process::PollExit() {
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

std::optional<Ending> Process::WaitForExit(Millis timeout) {
    auto const deadline = Clock::now() + timeout;
    while (!PollExit() && pid_ > 0) {
        if (Clock::now() >= deadline) {
            ::kill(pid_, SIGKILL);
            int status = 0;
            rusage usage{};
            ::wait4(pid_, &status, 0, &usage);
            Reap(status, usage);
            timedOut_ = true;
            return std::nullopt;
        }
        std::this_thread::sleep_for(Millis(5));
    }
    return timedOut_ ? std::nullopt : ending_;
}

std::optional<int> Process::ExitStatus(Millis timeout) {
    std::optional<Ending> const ending = WaitForExit(timeout);
    return ending ? std::optional<int>(ending->status) : std::nullopt;
}

std::vector<std::string> Process::Lines() const {
    std::lock_guard lock(mutex_);
    return SplitLines(out_);
}

std::vector<std::string> Process::LinesStartingWith(std::string const& prefix) const {
    std::vector<std::string> matching;
    for (std::string const& line : Lines()) {
        if (line.starts_with(prefix)) {
            matching.push_back(line);
        }
    }
    return matching;
}

std::vector<TimedLine> Process::TimedLines() const {
    std::lock_guard lock(mutex_);
    return lines_;
}

std::string Process::Output() const {
    std::lock_guard lock(mutex_);
    return out_;
}

std::string Process::ErrorOutput() const {
    std::lock_guard lock(mutex_);
    return err_;
}

std::string Process::MissingInOrder(std::vector<std::string> const& expected) const {
    std::vector<std::string> const lines = Lines();
    auto next = lines.begin();
    for (std::string const& wanted : expected) {
        next = std::find(next, lines.end(), wanted);
        if (next == lines.end()) {
            return "missing, or out of order: \"" + wanted + "\"\n" + Transcript();
        }
        ++next;
    }
    return "";
}

std::string Process::Transcript() const {
    std::lock_guard lock(mutex_);
    std::string text = "--- output ---\n" + out_;
    if (!err_.empty()) {
        text += "--- errors ---\n" + err_;
    }
    return text + (timedOut_ ? "--- killed after its time ran out ---" : "--- end ---");
}

fs::path UpdaterBinary() {
    if (char const* named = std::getenv("QM_UPDATER_BINARY"); named != nullptr && *named != 0) {
        return named;
    }
    std::error_code error;
    fs::path const self = fs::read_symlink("/proc/self/exe", error);
    return self.parent_path().parent_path() / "src" / "app" / "quillmesh-updater";
}

ProcessOptions UpdaterOptions(fs::path const& directory) {
    return {.argv = {UpdaterBinary().string()}, .directory = directory};
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

namespace {

// A "Name:   1234 kB" line of /proc/PID/status, in KiB.
long StatusKb(pid_t pid, std::string const& name) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(in, line);) {
        if (line.starts_with(name)) {
            return std::stol(line.substr(name.size()));
        }
    }
    return -1;
}

}  // namespace

long ResidentKb(pid_t pid) {
    return StatusKb(pid, "VmRSS:");
}

long PeakResidentKb(pid_t pid) {
    return StatusKb(pid, "VmHWM:");
}

}  // namespace qm::test
