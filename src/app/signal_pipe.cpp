#include "app/signal_pipe.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace qm::app {
namespace {

// The write end of the one SignalPipe, for the signal handler, which cannot be given a context.
std::atomic<int> signalWriteEnd{-1};

extern "C" void OnSignal(int signal) {
    int savedErrno = errno;
    int fd = signalWriteEnd.load();
    if (fd >= 0) {
        char byte = static_cast<char>(signal);
        [[maybe_unused]] ssize_t written = write(fd, &byte, 1);
    }
    errno = savedErrno;
}

}  // namespace

SignalPipe::SignalPipe() {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC | O_NONBLOCK) == 0) {
        readEnd_ = ends[0];
        writeEnd_ = ends[1];
        signalWriteEnd.store(writeEnd_);
    }
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, &oldInt_);
    sigaction(SIGTERM, &action, &oldTerm_);
    sigaction(SIGHUP, &action, &oldHangUp_);
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, &oldPipe_);
    // A file size limit must show as a failed write (EFBIG), not kill the run mid-download.
    sigaction(SIGXFSZ, &ignore, &oldFileSize_);
}

SignalPipe::~SignalPipe() {
    sigaction(SIGINT, &oldInt_, nullptr);
    sigaction(SIGTERM, &oldTerm_, nullptr);
    sigaction(SIGHUP, &oldHangUp_, nullptr);
    sigaction(SIGPIPE, &oldPipe_, nullptr);
    sigaction(SIGXFSZ, &oldFileSize_, nullptr);
    signalWriteEnd.store(-1);
    if (readEnd_ >= 0) {
        close(readEnd_);
    }
    if (writeEnd_ >= 0) {
        close(writeEnd_);
    }
}

bool SignalPipe::Drain() {
    bool any = false;
    char bytes[16];
    while (read(readEnd_, bytes, sizeof bytes) > 0) {
        any = true;
    }
    return any;
}

}  // namespace qm::app
