// Signals turned into bytes on a pipe, so that the event loop hears of them between two handlers
// instead of inside one. One instance per process; the previous dispositions come back when it
// goes.
#pragma once

#include <csignal>
#include <cstdint>
#include <initializer_list>
#include <vector>

#include "base/unix/unique_fd.h"

namespace qm::base {

// A set of signal numbers (1 to 63).
class SignalSet {
  public:
    void Add(int signal) { bits_ |= Bit(signal); }
    bool Contains(int signal) const { return (bits_ & Bit(signal)) != 0; }
    bool empty() const { return bits_ == 0; }

  private:
    static std::uint64_t Bit(int signal) {
        return signal > 0 && signal < 64 ? std::uint64_t{1} << signal : 0;
    }
    std::uint64_t bits_ = 0;
};

class SignalPipe {
  public:
    // Catches every signal of `caught` and ignores every one of `ignored` while it lives.
    SignalPipe(std::initializer_list<int> caught, std::initializer_list<int> ignored);
    ~SignalPipe();
    SignalPipe(SignalPipe const&) = delete;
    SignalPipe& operator=(SignalPipe const&) = delete;

    // Readable once a caught signal has arrived.
    int fd() const { return readEnd_.get(); }

    // Reads what is pending: the signals that arrived since the last call.
    SignalSet Drain();

  private:
    struct Saved {
        int signal;
        struct sigaction action;
    };
    void Install(int signal, void (*handler)(int));

    UniqueFd readEnd_;
    UniqueFd writeEnd_;
    std::vector<Saved> saved_;
};

}  // namespace qm::base
