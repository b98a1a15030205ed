#include "update_server/control_signals.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>

namespace qm::server {
namespace {

// The pipe the handler writes to; set before the handlers are installed, cleared after they are
// gone.
volatile sig_atomic_t signalWriteEnd = -1;

void OnSignal(int number) {
    int const saved = errno;
    auto const byte = static_cast<unsigned char>(number);
    if (signalWriteEnd != -1) {
        [[maybe_unused]] ssize_t const written = ::write(signalWriteEnd, &byte, 1);
    }
    errno = saved;
}

void Install(int number, void (*handler)(int), struct sigaction& old) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(number, &action, &old);
}

}  // namespace

ControlSignals::ControlSignals() {
    int ends[2] = {-1, -1};
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) == 0) {
        readEnd_ = ends[0];
        writeEnd_ = ends[1];
    }
    signalWriteEnd = writeEnd_;
    Install(SIGHUP, OnSignal, oldHangup_);
    Install(SIGINT, OnSignal, oldInterrupt_);
    Install(SIGTERM, OnSignal, oldTerminate_);
    Install(SIGPIPE, SIG_IGN, oldPipe_);
}

ControlSignals::~ControlSignals() {
    ::sigaction(SIGHUP, &oldHangup_, nullptr);
    ::sigaction(SIGINT, &oldInterrupt_, nullptr);
    ::sigaction(SIGTERM, &oldTerminate_, nullptr);
    ::sigaction(SIGPIPE, &oldPipe_, nullptr);
    signalWriteEnd = -1;
    if (readEnd_ != -1) {
        ::close(readEnd_);
        ::close(writeEnd_);
    }
}

ControlSignals::Request ControlSignals::Drain() {
    Request request = Request::None;
    std::array<unsigned char, 64> bytes{};
    ssize_t count = 0;
    while ((count = ::read(readEnd_, bytes.data(), bytes.size())) > 0) {
        for (ssize_t i = 0; i < count; ++i) {
            if (bytes[static_cast<std::size_t>(i)] == SIGHUP) {
                request = request == Request::Stop ? Request::Stop : Request::Rescan;
            } else {
                request = Request::Stop;
            }
        }
    }
    return request;
}

}  // namespace qm::server
