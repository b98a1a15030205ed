// A blocking TCP client on loopback that speaks bytes, for tests of the server program: every
// receive waits at most its timeout, and it may be bound to a source address of its own (any of
// 127.0.0.0/8), so that one test can be many clients' addresses.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "support/addresses.h"

namespace qm::test {

class RawClient {
  public:
    struct Options {
        int receiveBuffer = 0;    // above 0: the socket's receive buffer is made that small
        std::string source = {};  // empty: the system picks the source address
        std::chrono::milliseconds timeout{5000};
    };

    explicit RawClient(std::string const& address, Options const& options);
    explicit RawClient(std::string const& address) : RawClient(address, Options{}) {}
    ~RawClient();
    RawClient(RawClient const&) = delete;
    RawClient& operator=(RawClient const&) = delete;

    bool connected() const { return connected_; }
    int fd() const { return fd_; }
    // All of `bytes`; false when the send failed.
    bool Send(std::span<const std::uint8_t> bytes);
    // Exactly `count` bytes, or fewer when the server closed or the timeout passed.
    std::vector<std::uint8_t> Receive(std::size_t count);
    // True when the server closed the connection before the timeout: an end of stream, or a
    // reset when the server closed with bytes of ours still unread. Bytes still on their way are
    // read and dropped first.
    bool ClosedByPeer();
    // True when the server has not closed the connection within `wait` (bytes it sent meanwhile
    // stay unread).
    bool OpenAfter(std::chrono::milliseconds wait);

  private:
    int fd_;
    std::chrono::milliseconds timeout_;
    bool connected_ = false;
};

}  // namespace qm::test
