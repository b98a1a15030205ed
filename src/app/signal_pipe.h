// Turns SIGINT, SIGTERM and SIGHUP (the terminal went away) into readable bytes on a pipe, so that
// the event loop can treat them as the cancel command. One instance per process; the previous
// dispositions come back when it is destroyed. SIGPIPE (sends use MSG_NOSIGNAL anyway) and SIGXFSZ
// are ignored while it lives.
#pragma once

#include <csignal>

namespace qm::app {

class SignalPipe {
  public:
    SignalPipe();
    ~SignalPipe();
    SignalPipe(SignalPipe const&) = delete;
    SignalPipe& operator=(SignalPipe const&) = delete;

    // Readable once a signal has arrived.
    int fd() const { return readEnd_; }
    // Reads the pending signal bytes; true when there was at least one.
    bool Drain();

  private:
    int readEnd_ = -1;
    int writeEnd_ = -1;
    struct sigaction oldInt_ {};
    struct sigaction oldTerm_ {};
    struct sigaction oldHangUp_ {};
    struct sigaction oldPipe_ {};
    struct sigaction oldFileSize_ {};
};

}  // namespace qm::app
