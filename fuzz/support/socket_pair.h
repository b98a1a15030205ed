// A connected pair of local stream sockets standing in for the connection to the update server:
// the product gets one end as its link's socket, the harness keeps the other as the server's
// side, reads what the product sent and can hang up. The product may close its end (a failed
// send resets the link); the harness closes it only while it is still the same socket.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <vector>

namespace qm::fuzz {

class SocketPair {
  public:
    SocketPair();  // both ends non-blocking and close-on-exec
    ~SocketPair();
    SocketPair(SocketPair const&) = delete;
    SocketPair& operator=(SocketPair const&) = delete;

    int productEnd() const { return productEnd_; }

    // Whether the product's end is still open as the socket it was given.
    bool ProductEndOpen() const;

    // The server hangs up: later sends on the product's end fail.
    void ClosePeer();

    // Everything that has arrived at the server's end so far (bounded by what the socket holds).
    std::vector<std::uint8_t> Drain();

  private:
    int productEnd_ = -1;
    int peerEnd_ = -1;
    ino_t productInode_ = 0;
};

}  // namespace qm::fuzz
