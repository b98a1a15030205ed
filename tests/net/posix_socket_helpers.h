// What the POSIX-only transport tests add to socket_helpers.h: owned descriptors of any kind,
// loopback listeners and closed ports by descriptor.
#pragma once

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <string>

#include "base/unix/unique_fd.h"
#include "socket_helpers.h"
#include "support/local_sockets.h"

namespace qm::net::testing {

using base::UniqueFd;

inline SocketHandle Socket(UniqueFd const& fd) {
    return SocketHandle(fd.get());
}
// The descriptor of a socket the layer handed out, or of one of the test's own.
inline int Fd(SocketHandle socket) {
    return static_cast<int>(socket.native());
}
inline int Fd(TestSocket const& socket) {
    return static_cast<int>(socket.get());
}

// The local port that `fd` is bound to.
std::uint16_t BoundPort(int fd);

// A listening TCP socket on a loopback address; port 0 picks a free port.
class Listener {
  public:
    explicit Listener(std::string const& address = "127.0.0.1", std::uint16_t port = 0);
    std::uint16_t port() const { return port_; }
    int fd() const { return fd_.get(); }
    // Waits a bounded time for a connection; -1 when none came.
    UniqueFd AcceptOne();

  private:
    UniqueFd fd_;
    std::uint16_t port_ = 0;
};

// A loopback port on which nothing listens, kept taken for the lifetime of the object.
class ClosedPort {
  public:
    ClosedPort();
    std::uint16_t port() const { return port_; }

  private:
    UniqueFd fd_;
    std::uint16_t port_ = 0;
};

}  // namespace qm::net::testing
