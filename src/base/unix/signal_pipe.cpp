#include "base/unix/signal_pipe.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>

namespace qm::base {
namespace {

// The write end of the one SignalPipe, for the handler, which cannot be given a context.
std::atomic<int> signalWriteEnd{-1};

extern "C" void OnSignal(int signal) {
    int const saved = errno;
    int const fd = signalWriteEnd.load();
    if (fd >= 0) {
        auto const byte = static_cast<unsigned char>(signal);
        [[maybe_unused]] ssize_t const written = ::write(fd, &byte, 1);
    }
    errno = saved;
}

}  // namespace

SignalPipe::SignalPipe(std::initializer_list<int> caught, std::initializer_list<int> ignored) {
    int ends[2] = {-1, -1};
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) == 0) {
        readEnd_.Reset(ends[0]);
        writeEnd_.Reset(ends[1]);
    }
    signalWriteEnd.store(writeEnd_.get());
    for (int const signal : caught) {
        Install(signal, OnSignal);
    }
    for (int const signal : ignored) {
        Install(signal, SIG_IGN);
    }
}

SignalPipe::~SignalPipe() {
    for (Saved const& old : saved_) {
        ::sigaction(old.signal, &old.action, nullptr);
    }
    signalWriteEnd.store(-1);
}

void SignalPipe::Install(int signal, void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    Saved old{signal, {}};
    if (::sigaction(signal, &action, &old.action) == 0) {
        saved_.push_back(old);
    }
}

SignalSet SignalPipe::Drain() {
    SignalSet arrived;
    std::array<unsigned char, 64> bytes{};
    ssize_t count = 0;
    while ((count = ::read(readEnd_.get(), bytes.data(), bytes.size())) > 0) {
        for (ssize_t i = 0; i < count; ++i) {
            arrived.Add(bytes[static_cast<std::size_t>(i)]);
        }
    }
    return arrived;
}

}  // namespace qm::base
