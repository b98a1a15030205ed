// SIGHUP (rescan the release) and SIGINT, SIGTERM (stop) turned into bytes on a pipe, so that the
// event loop hears of them between two handlers. SIGPIPE is ignored while it lives. One instance
// per process; the previous dispositions come back when it goes.
#pragma once

#include <csignal>

namespace qm::server {

class ControlSignals {
  public:
    enum class Request { None, Rescan, Stop };

    ControlSignals();
    ~ControlSignals();
    ControlSignals(ControlSignals const&) = delete;
    ControlSignals& operator=(ControlSignals const&) = delete;

    // Readable once a signal has arrived.
    int fd() const { return readEnd_; }

    // Reads the pending signals: Stop when one of them asks to stop, else Rescan when one asks
    // for a rescan.
    Request Drain();

  private:
    int readEnd_ = -1;
    int writeEnd_ = -1;
    struct sigaction oldHangup_ {};
    struct sigaction oldInterrupt_ {};
    struct sigaction oldTerminate_ {};
    struct sigaction oldPipe_ {};
};

}  // namespace qm::server
