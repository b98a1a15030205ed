#include "app/program_launch.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

extern char** environ;

namespace qm::app {
namespace {

bool IsExecutableFile(std::string const& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           access(path.c_str(), X_OK) == 0;
}

// Spawn attributes and file actions, released when the launch is over.
class SpawnSetup {
  public:
    SpawnSetup() {
        posix_spawnattr_init(&attributes_);
        posix_spawn_file_actions_init(&actions_);
        sigset_t none;
        sigemptyset(&none);
        sigset_t defaults;
        sigemptyset(&defaults);
        for (int signal : {SIGINT, SIGTERM, SIGPIPE, SIGHUP, SIGXFSZ}) {
            sigaddset(&defaults, signal);
        }
        posix_spawnattr_setsigmask(&attributes_, &none);
        posix_spawnattr_setsigdefault(&attributes_, &defaults);
        posix_spawnattr_setflags(
            &attributes_, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
        posix_spawn_file_actions_addopen(&actions_, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    }
    ~SpawnSetup() {
        posix_spawn_file_actions_destroy(&actions_);
        posix_spawnattr_destroy(&attributes_);
    }
    SpawnSetup(SpawnSetup const&) = delete;
    SpawnSetup& operator=(SpawnSetup const&) = delete;

    posix_spawnattr_t const* attributes() const { return &attributes_; }
    posix_spawn_file_actions_t const* actions() const { return &actions_; }

  private:
    posix_spawnattr_t attributes_;
    posix_spawn_file_actions_t actions_;
};

}  // namespace

std::string FindProgram(std::string const& program) {
    if (program.empty()) {
        return {};
    }
    if (program.find('/') != std::string::npos) {
        return IsExecutableFile(program) ? program : std::string();
    }
    if (IsExecutableFile("./" + program)) {
        return "./" + program;
    }
    char const* path = std::getenv("PATH");
    std::string_view directories = path != nullptr ? path : "/usr/bin:/bin";
    while (true) {
        auto colon = directories.find(':');
        std::string directory(directories.substr(0, colon));
        std::string candidate = (directory.empty() ? std::string(".") : directory) + "/" + program;
        if (IsExecutableFile(candidate)) {
            return candidate;
        }
        if (colon == std::string_view::npos) {
            return {};
        }
        directories.remove_prefix(colon + 1);
    }
}

bool LaunchProgram(std::string_view commandLine) {
    std::vector<std::string> words = SplitCommandLine(commandLine);
    if (words.empty()) {
        return false;
    }
    std::string file = FindProgram(words.front());
    if (file.empty()) {
        return false;
    }
    std::vector<char*> argv;
    for (auto& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    SpawnSetup setup;
    pid_t child = 0;
    return posix_spawn(&child, file.c_str(), setup.actions(), setup.attributes(), argv.data(),
                       environ) == 0;
}

}  // namespace qm::app
