#include "socket_helpers.h"

#include <arpa/inet.h>
#include <poll.h>

#include <algorithm>
#include <stdexcept>

namespace qm::net::testing {

namespace {

// `fd`, or an exception when it is -1.
UniqueFd Checked(int fd, std::string const& address) {
    if (fd < 0) {
        throw std::runtime_error("cannot bind " + address);
    }
    return UniqueFd(fd);
}

bool WaitFor(int fd, short events, int milliseconds) {
    pollfd one{fd, events, 0};
    return ::poll(&one, 1, milliseconds) > 0;
}

}  // namespace

SocketPair::SocketPair() {
    auto const [nearEnd, farEnd] = qm::test::OpenSocketPair();
    near = UniqueFd(nearEnd);
    far = UniqueFd(farEnd);
}

std::uint16_t BoundPort(int fd) {
    sockaddr_in endpoint{};
    socklen_t size = sizeof endpoint;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&endpoint), &size);
    return ntohs(endpoint.sin_port);
}

bool IsOpen(int fd) {
    return ::fcntl(fd, F_GETFD) != -1;
}

std::size_t FillSendBuffer(int fd) {
    std::vector<std::uint8_t> const block(65536, 0x5A);
    std::size_t total = 0;
    std::size_t size = block.size();
    for (int attempt = 0; attempt < 100000 && size > 0; ++attempt) {
        ssize_t const sent = ::send(fd, block.data(), size, MSG_NOSIGNAL);
        if (sent > 0) {
            total += static_cast<std::size_t>(sent);
        } else {
            size /= 2;  // full for this size: try smaller blocks down to one byte
        }
    }
    return total;
}

std::vector<std::uint8_t> ReadExactly(int fd, std::size_t count) {
    std::vector<std::uint8_t> bytes;
    for (int attempt = 0; attempt < 200 && bytes.size() < count; ++attempt) {
        if (!WaitFor(fd, POLLIN, 20)) {
            continue;
        }
        std::uint8_t chunk[4096];
        ssize_t const got = ::recv(fd, chunk, std::min(sizeof chunk, count - bytes.size()), 0);
        if (got <= 0) {
            break;
        }
        bytes.insert(bytes.end(), chunk, chunk + got);
    }
    return bytes;
}

Listener::Listener(std::string const& address, std::uint16_t port)
    : fd_(Checked(qm::test::ListenOn(address, 16, port), address)), port_(BoundPort(fd_.get())) {}

UniqueFd Listener::AcceptOne() {
    if (!WaitFor(fd_.get(), POLLIN, 5000)) {
        return UniqueFd();
    }
    return UniqueFd(::accept4(fd_.get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
}

ClosedPort::ClosedPort()
    : fd_(Checked(qm::test::BoundTo("127.0.0.1", 0), "127.0.0.1")), port_(BoundPort(fd_.get())) {}

}  // namespace qm::net::testing
