// The other end of a loopback connection for the socket tests: a plain blocking Winsock listener
// on a test address of its own and the one connection it accepts.
#pragma once

#include <cstdint>
#include <string>

#include "support/addresses.h"

namespace qm::test::win {

class LoopbackPeer {
  public:
    explicit LoopbackPeer(TestAddress address);
    ~LoopbackPeer();
    LoopbackPeer(LoopbackPeer const&) = delete;
    LoopbackPeer& operator=(LoopbackPeer const&) = delete;

    bool listening() const { return listening_ != -1; }
    // Waits for the connection; false when none came.
    bool Accept();
    void Send(std::string const& bytes) const;
    // Ends the peer's side: the other end reads the end of the stream.
    void Close() const;

  private:
    std::intptr_t listening_ = -1;
    std::intptr_t accepted_ = -1;
};

}  // namespace qm::test::win
