// Real descriptors for the transport tests: owned fds, socket pairs, loopback listeners and a few
// bounded ways to fill, drain and wait.
#pragma once

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "base/unix/unique_fd.h"
#include "net/socket_handle.h"
#include "net/unix/poll_event_loop.h"
#include "support/local_sockets.h"

namespace qm::net::testing {

using base::UniqueFd;

// The socket of an owned descriptor, as the socket layer and the loop take it.
inline SocketHandle Socket(UniqueFd const& fd) {
    return SocketHandle(fd.get());
}
inline SocketHandle Socket(int fd) {
    return SocketHandle(fd);
}
// The descriptor of a socket the layer handed out.
inline int Fd(SocketHandle socket) {
    return static_cast<int>(socket.native());
}

// Both ends non-blocking.
struct SocketPair {
    SocketPair();
    UniqueFd near;
    UniqueFd far;
};

bool IsOpen(int fd);
// The local port that `fd` is bound to.
std::uint16_t BoundPort(int fd);

// Sends into `fd` until the socket takes no single further byte. Returns the bytes sent.
std::size_t FillSendBuffer(int fd);
using qm::test::DrainAll;
// Reads exactly `count` bytes from `fd`, waiting at most a few seconds in all.
std::vector<std::uint8_t> ReadExactly(int fd, std::size_t count);

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

// Turns the loop, waiting at most 10 ms a turn, until `done` holds or `limit` has passed; tells
// whether `done` holds.
inline bool RunUntil(PollEventLoop& loop, std::function<bool()> const& done,
                     std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    auto const deadline = std::chrono::steady_clock::now() + limit;
    while (!done() && std::chrono::steady_clock::now() < deadline) {
        loop.RunOnce(std::chrono::milliseconds(10));
    }
    return done();
}

// Ends the whole test program if the scope is not left within `seconds`: for calls such as
// Run() that cannot be bounded otherwise.
class Watchdog {
  public:
    explicit Watchdog(unsigned seconds) { ::alarm(seconds); }
    ~Watchdog() { ::alarm(0); }
    Watchdog(Watchdog const&) = delete;
    Watchdog& operator=(Watchdog const&) = delete;
};

// A time source that moves only when told.
struct ManualClock {
    PollEventLoop::Clock::time_point now{std::chrono::hours(1)};
    PollEventLoop::TimeSource source() {
        return [this] { return now; };
    }
    void Advance(std::chrono::milliseconds by) { now += by; }
};

}  // namespace qm::net::testing
