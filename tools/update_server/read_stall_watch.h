// Whether a client takes what the server sends it. While the server owes it bytes (waiting in the
// connection's outbox or in the socket's send queue), the watch looks every quarter of the limit
// whether any of them went; a client that has taken none for the whole limit has stalled. A
// client that owes the server nothing (it checksums a large file, say) is never stalled.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>

#include "net/event_loop.h"
#include "net/outbox.h"
#include "net/timer.h"

namespace qm::server {

class ReadStallWatch {
  public:
    ReadStallWatch(net::EventLoop& loop, net::SocketHandle socket, net::Outbox const& outbox,
                   std::chrono::seconds limit, std::function<void()> onStall)
        : loop_(loop),
          socket_(socket),
          outbox_(outbox),
          limit_(limit),
          onStall_(std::move(onStall)),
          timer_(loop) {}

    // After a send: `taken` bytes went to the socket.
    void Sent(std::size_t taken);

  private:
    void Check();
    std::chrono::milliseconds CheckInterval() const;
    std::size_t Owed() const;

    net::EventLoop& loop_;
    net::SocketHandle socket_;
    net::Outbox const& outbox_;
    std::chrono::seconds limit_;
    std::function<void()> onStall_;
    net::Timer timer_;
    net::EventLoop::Clock::time_point lastProgress_;
    std::size_t lastOwed_ = 0;
};

}  // namespace qm::server
