// The bytes a connection still owes its peer. Frames are appended whole and sent as far as the
// socket takes them; what it does not take waits for the socket to become writable again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "base/aligned_buffer.h"

namespace qm::server {

class Outbox {
  public:
    enum class Flush { Drained, Blocked, Failed };

    // Where whole frames are appended, behind what is still waiting.
    base::ByteBuffer& frames() { return bytes_; }

    // Sends what is waiting on `socket` until it is all gone or the socket would block. Never
    // raises SIGPIPE. Failed: the peer is gone or the socket broke.
    Flush SendTo(int socket);

    std::size_t pending() const { return bytes_.size() - sent_; }

  private:
    void DropSent();

    base::ByteBuffer bytes_;
    std::size_t sent_ = 0;  // bytes at the front of bytes_ that already went out
};

}  // namespace qm::server
