#include "net/socket_calls.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace qm::net::sockets {
namespace {

int Descriptor(SocketHandle socket) {
    return static_cast<int>(socket.native());
}

// Every frame goes out as soon as it is sent. Otherwise a frame smaller than a segment waits for
// the acknowledgement of the one before whenever one is still in flight, up to the peer's
// delayed-acknowledgement time (40 ms on Linux): pipelined chunk requests and the chunks that
// answer them would take turns with that timer.
void SendFramesAtOnce(int fd) {
    int const on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

sockaddr const* Address(Endpoint const& endpoint) {
    return reinterpret_cast<sockaddr const*>(endpoint.address.data());
}

// The wildcard address of the family, port 0: the system picks both.
bool BindToWildcard(int fd, int family) {
    if (family == AF_INET6) {
        sockaddr_in6 any{};
        any.sin6_family = AF_INET6;
        any.sin6_addr = in6addr_any;
        return ::bind(fd, reinterpret_cast<sockaddr const*>(&any), sizeof any) == 0;
    }
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_addr.s_addr = htonl(INADDR_ANY);
    return ::bind(fd, reinterpret_cast<sockaddr const*>(&any), sizeof any) == 0;
}

SocketHandle Owned(int fd) {
    return fd < 0 ? kNoSocket : SocketHandle(fd);
}

}  // namespace

int LastError() {
    return errno;
}

bool WouldBlock(int error) {
    return error == EAGAIN || error == EWOULDBLOCK;
}

bool Interrupted(int error) {
    return error == EINTR;
}

bool OutOfResources(int error) {
    return error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM;
}

bool Startup() {
    return true;
}

SocketHandle OpenConnecting(Endpoint const& endpoint) {
    int const fd =
        ::socket(endpoint.family(), SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0) {
        return kNoSocket;
    }
    if (!BindToWildcard(fd, endpoint.family())) {
        ::close(fd);
        return kNoSocket;
    }
    SendFramesAtOnce(fd);
    return SocketHandle(fd);
}

int StartConnect(SocketHandle socket, Endpoint const& endpoint) {
    if (::connect(Descriptor(socket), Address(endpoint), endpoint.length) == 0) {
        return 0;
    }
    // An interrupted non-blocking connect also carries on by itself.
    return (errno == EINPROGRESS || errno == EINTR) ? 0 : errno;
}

int ConnectOutcome(SocketHandle socket) {
    int error = 0;
    socklen_t size = sizeof error;
    if (::getsockopt(Descriptor(socket), SOL_SOCKET, SO_ERROR, &error, &size) != 0) {
        return errno;
    }
    return error;
}

SocketHandle Listen(Endpoint const& endpoint) {
    int const fd =
        ::socket(endpoint.family(), SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
    int const on = 1;
    if (fd < 0 || ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        (endpoint.family() == AF_INET6 &&
         ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on) != 0) ||
        ::bind(fd, Address(endpoint), endpoint.length) != 0 || ::listen(fd, SOMAXCONN) != 0) {
        if (fd >= 0) {
            ::close(fd);
        }
        return kNoSocket;
    }
    return SocketHandle(fd);
}

SocketHandle Accept(SocketHandle listening) {
    int const accepted =
        ::accept4(Descriptor(listening), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (accepted >= 0) {
        SendFramesAtOnce(accepted);
    }
    return Owned(accepted);
}

long Send(SocketHandle socket, std::span<const std::uint8_t> bytes) {
    return ::send(Descriptor(socket), bytes.data(), bytes.size(), MSG_NOSIGNAL);
}

long Receive(SocketHandle socket, std::span<std::uint8_t> into) {
    return ::recv(Descriptor(socket), into.data(), into.size(), 0);
}

bool IsOpen(SocketHandle socket) {
    return socket.valid() && ::fcntl(Descriptor(socket), F_GETFD) != -1;
}

int Close(SocketHandle socket) {
    return ::close(Descriptor(socket));
}

}  // namespace qm::net::sockets
