// The bytes a connection still owes its peer. Frames are appended whole and sent as far as the
// socket takes them; what it does not take waits, in order, for the socket to become writable
// again. Nothing appended is ever dropped while the connection lives.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/aligned_buffer.h"
#include "net/socket_handle.h"

namespace qm::net {

class SocketLayer;

class Outbox {
  public:
    enum class Flush { Drained, Blocked, Failed };

    // Where whole frames are appended, behind what is still waiting.
    base::ByteBuffer& frames() { return bytes_; }

    // Sends what is waiting on `socket` until it is all gone or the socket would block; the layer
    // then reports the socket's writability again. Failed: the peer is gone or the socket broke.
    Flush SendTo(SocketLayer& layer, SocketHandle socket);

    std::size_t pending() const { return bytes_.size() - sent_; }
    void Clear();

  private:
    void DropSent();

    base::ByteBuffer bytes_;
    std::size_t sent_ = 0;  // bytes at the front of bytes_ that already went out
};

}  // namespace qm::net
