// peak_rss_probe REPORT PROGRAM [ARGUMENT...]: runs PROGRAM and writes its own peak resident
// memory in KiB to the file REPORT; exits with PROGRAM's status (128 + signal if it was killed).
//
// The peak that wait4 reports for a child includes the address space it had before its exec:
// that of the parent it was forked from (a vfork child shares it outright). Measured from a big
// benchmark process, a small program would show the benchmark's memory. This probe is small
// and forks the program from itself, so what it reports is the program's own peak (or the
// probe's few hundred KiB, whichever is more). SIGTERM and SIGINT are passed on.
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

namespace {

volatile sig_atomic_t child = 0;

void PassOn(int signal) {
    if (child > 0) {
        ::kill(child, signal);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s REPORT PROGRAM [ARGUMENT...]\n", argv[0]);
        return 125;
    }
    struct sigaction passOn {};
    passOn.sa_handler = PassOn;
    ::sigaction(SIGTERM, &passOn, nullptr);
    ::sigaction(SIGINT, &passOn, nullptr);
    pid_t const pid = ::fork();
    if (pid == 0) {
        ::execv(argv[2], argv + 2);
        ::_exit(127);
    }
    if (pid < 0) {
        return 126;
    }
    child = pid;
    int status = 0;
    rusage usage{};
    while (::wait4(pid, &status, 0, &usage) < 0) {
    }
    if (std::FILE* report = std::fopen(argv[1], "w")) {
        std::fprintf(report, "%ld\n", usage.ru_maxrss);
        std::fclose(report);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
