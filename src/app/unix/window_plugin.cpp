#include "app/unix/window_plugin.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include "app/program_module.h"
#include "base/unix/unique_fd.h"

namespace qm::app {
namespace {

constexpr char kWorks = 'y';
constexpr char kUnusable = 'p';

bool DisplayNamed() {
    for (char const* variable : {"DISPLAY", "WAYLAND_DISPLAY"}) {
        char const* value = std::getenv(variable);
        if (value != nullptr && value[0] != '\0') {
            return true;
        }
    }
    return false;
}

// The module's interface, or nothing with the loader's reason.
WindowPluginApi const* OpenPlugin(std::string const& path, std::string& reason) {
    return static_cast<WindowPluginApi const*>(
        OpenProgramModule(path, kWindowPluginSymbol, reason));
}

// In the child: quiet, without a core file in the client's directory; then the module is loaded
// and the display tried once.
[[noreturn]] void TryInChild(std::string const& pluginPath, int answer) {
    base::UniqueFd const nothing(::open("/dev/null", O_RDWR));
    if (nothing.valid()) {
        ::dup2(nothing.get(), STDIN_FILENO);
        ::dup2(nothing.get(), STDOUT_FILENO);
        ::dup2(nothing.get(), STDERR_FILENO);
    }
    struct rlimit const noCore{0, 0};
    ::setrlimit(RLIMIT_CORE, &noCore);
    std::string reason;
    WindowPluginApi const* api = OpenPlugin(pluginPath, reason);
    if (api == nullptr) {
        std::string const message = kUnusable + reason;
        [[maybe_unused]] ssize_t const written = ::write(answer, message.data(), message.size());
        ::_exit(0);
    }
    // A display that refuses ends the child here.
    api->connectToDisplay();
    [[maybe_unused]] ssize_t const written = ::write(answer, &kWorks, 1);
    ::_exit(0);
}

// What the child said before it ended or the time ran out; empty for nothing.
std::string AnswerOf(int answer, std::chrono::milliseconds timeout) {
    auto const deadline = std::chrono::steady_clock::now() + timeout;
    std::string said;
    for (;;) {
        auto const left = std::chrono::ceil<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return said;
        }
        pollfd ready{answer, POLLIN, 0};
        int const result = ::poll(&ready, 1, static_cast<int>(left.count()));
        if (result < 0 && errno == EINTR) {
            continue;
        }
        if (result <= 0) {
            return said;
        }
        std::array<char, 512> bytes{};
        ssize_t const got = ::read(answer, bytes.data(), bytes.size());
        if (got <= 0) {
            return said;  // the child ended
        }
        said.append(bytes.data(), static_cast<std::size_t>(got));
    }
}

}  // namespace

std::string WindowPluginPath() {
    return ProgramModulePath(kWindowPluginFile);
}

WindowProbe ProbeWindow(std::string const& pluginPath, std::chrono::milliseconds timeout) {
    if (!DisplayNamed()) {
        return {WindowProbe::Result::NoDisplay, {}};
    }
    struct stat status {};
    if (pluginPath.empty() || ::stat(pluginPath.c_str(), &status) != 0) {
        return {WindowProbe::Result::PluginUnusable, pluginPath + ": not installed"};
    }
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        return {WindowProbe::Result::NoDisplay, {}};
    }
    base::UniqueFd readEnd(ends[0]);
    base::UniqueFd writeEnd(ends[1]);
    pid_t const child = ::fork();
    if (child == 0) {
        readEnd.Reset();
        TryInChild(pluginPath, writeEnd.get());
    }
    writeEnd.Reset();
    std::string const said = child > 0 ? AnswerOf(readEnd.get(), timeout) : std::string();
    if (child > 0) {
        ::kill(child, SIGKILL);
        while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    if (!said.empty() && said.front() == kUnusable) {
        return {WindowProbe::Result::PluginUnusable, said.substr(1)};
    }
    return {said == std::string(1, kWorks) ? WindowProbe::Result::Works
                                           : WindowProbe::Result::NoDisplay,
            {}};
}

FrontEndFactory LoadWindowFrontEnd(std::FILE* notes) {
    std::string const path = WindowPluginPath();
    WindowProbe const probe = ProbeWindow(path);
    std::string reason = probe.reason;
    WindowPluginApi const* api = nullptr;
    if (probe.result == WindowProbe::Result::Works) {
        // Loaded for good: the module is never unloaded while the program runs.
        api = OpenPlugin(path, reason);
    }
    if (api == nullptr) {
        if (!reason.empty()) {
            std::fprintf(notes, "quillmesh-updater: no update window (%s)\n", reason.c_str());
        }
        return {};
    }
    return [api](int wakeFd) { return std::unique_ptr<FrontEnd>(api->makeFrontEnd(wakeFd)); };
}

}  // namespace qm::app
