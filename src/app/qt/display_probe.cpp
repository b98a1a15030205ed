#include "app/qt/display_probe.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QGuiApplication>

#include <cerrno>
#include <cstdlib>

namespace qm::app::qt {
namespace {

constexpr char kConnected = 'y';

bool DisplayNamed() {
    for (char const* variable : {"DISPLAY", "WAYLAND_DISPLAY"}) {
        char const* value = std::getenv(variable);
        if (value != nullptr && value[0] != '\0') {
            return true;
        }
    }
    return false;
}

// In the child: quiet, without a core file in the client's directory, then one try to connect.
[[noreturn]] void TryToConnect(int answer) {
    int const nothing = open("/dev/null", O_RDWR);
    if (nothing >= 0) {
        dup2(nothing, STDIN_FILENO);
        dup2(nothing, STDOUT_FILENO);
        dup2(nothing, STDERR_FILENO);
    }
    struct rlimit const noCore{0, 0};
    setrlimit(RLIMIT_CORE, &noCore);

    static char name[] = "quillmesh-updater";
    static char* argv[] = {name, nullptr};
    static int argc = 1;
    // A platform plugin that cannot connect ends the child here.
    QGuiApplication application(argc, argv);
    [[maybe_unused]] ssize_t const written = write(answer, &kConnected, 1);
    _exit(0);
}

bool AnswerArrives(int answer, std::chrono::milliseconds timeout) {
    auto const deadline = std::chrono::steady_clock::now() + timeout;
    while (true) {
        auto const left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return false;
        }
        struct pollfd ready {
            answer, POLLIN, 0
        };
        int const result = poll(&ready, 1, static_cast<int>(left.count()));
        if (result < 0 && errno == EINTR) {
            continue;
        }
        if (result <= 0) {
            return false;
        }
        char byte = 0;
        return read(answer, &byte, 1) == 1 && byte == kConnected;
    }
}

}  // namespace

bool DisplayWorks(std::chrono::milliseconds timeout) {
    if (!DisplayNamed()) {
        return false;
    }
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) {
        return false;
    }
    pid_t const child = fork();
    if (child == 0) {
        close(ends[0]);
        TryToConnect(ends[1]);
    }
    close(ends[1]);
    bool const connected = child > 0 && AnswerArrives(ends[0], timeout);
    close(ends[0]);
    if (child > 0) {
        kill(child, SIGKILL);
        while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    return connected;
}

}  // namespace qm::app::qt
