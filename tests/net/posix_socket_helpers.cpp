#include "posix_socket_helpers.h"

#include <poll.h>
#include <sys/socket.h>

#include <stdexcept>

#include "support/local_sockets.h"

namespace qm::net::testing {
namespace {

// `fd`, or an exception when it is -1.
UniqueFd Checked(int fd, std::string const& address) {
    if (fd < 0) {
        throw std::runtime_error("cannot bind " + address);
    }
    return UniqueFd(fd);
}

}  // namespace

std::uint16_t BoundPort(int fd) {
    qm::test::TestSocket borrowed(fd);
    std::uint16_t const port = qm::test::LocalPort(borrowed);
    borrowed.Release();
    return port;
}

Listener::Listener(std::string const& address, std::uint16_t port)
    : fd_(Checked(qm::test::ListenOn(address, 16, port), address)), port_(BoundPort(fd_.get())) {}

UniqueFd Listener::AcceptOne() {
    pollfd one{fd_.get(), POLLIN, 0};
    if (::poll(&one, 1, 5000) <= 0) {
        return UniqueFd();
    }
    return UniqueFd(::accept4(fd_.get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
}

ClosedPort::ClosedPort()
    : fd_(Checked(qm::test::BoundTo("127.0.0.1", 0), "127.0.0.1")), port_(BoundPort(fd_.get())) {}

}  // namespace qm::net::testing
