#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

#include "support/test_socket.h"

namespace qm::test {
namespace {

int Native(TestSocket const& socket) {
    return static_cast<int>(socket.get());
}

sockaddr_in LoopbackEndpoint(std::string const& address, std::uint16_t port) {
    sockaddr_in endpoint{};
    endpoint.sin_family = AF_INET;
    endpoint.sin_port = htons(port);
    ::inet_pton(AF_INET, address.c_str(), &endpoint.sin_addr);
    return endpoint;
}

}  // namespace

void TestSocket::Reset(std::intptr_t native) {
    if (native_ != -1) {
        ::close(static_cast<int>(native_));
    }
    native_ = native;
}

TestSocket OpenListener(std::string const& address, std::uint16_t port) {
    TestSocket socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    int const yes = 1;
    ::setsockopt(Native(socket), SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in const endpoint = LoopbackEndpoint(address, port);
    if (::bind(Native(socket), reinterpret_cast<sockaddr const*>(&endpoint), sizeof endpoint) !=
            0 ||
        ::listen(Native(socket), 16) != 0) {
        return TestSocket();
    }
    return socket;
}

TestSocket AcceptWithin(TestSocket const& listener, std::chrono::milliseconds wait) {
    pollfd ready{Native(listener), POLLIN, 0};
    if (::poll(&ready, 1, static_cast<int>(wait.count())) <= 0) {
        return TestSocket();
    }
    return TestSocket(::accept4(Native(listener), nullptr, nullptr, SOCK_CLOEXEC));
}

std::pair<TestSocket, TestSocket> ConnectedPair() {
    int ends[2] = {-1, -1};
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, ends) != 0) {
        throw std::runtime_error("socketpair failed");
    }
    return {TestSocket(ends[0]), TestSocket(ends[1])};
}

void SetNonBlocking(TestSocket const& socket) {
    ::fcntl(Native(socket), F_SETFL, ::fcntl(Native(socket), F_GETFL) | O_NONBLOCK);
}

std::uint16_t LocalPort(TestSocket const& socket) {
    sockaddr_in endpoint{};
    socklen_t size = sizeof endpoint;
    ::getsockname(Native(socket), reinterpret_cast<sockaddr*>(&endpoint), &size);
    return ntohs(endpoint.sin_port);
}

bool SendAll(TestSocket const& socket, std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        ssize_t const sent = ::send(Native(socket), bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent <= 0) {
            return false;
        }
        bytes = bytes.subspan(static_cast<std::size_t>(sent));
    }
    return true;
}

std::size_t BytesWaiting(TestSocket const& socket) {
    int waiting = 0;
    return ::ioctl(Native(socket), FIONREAD, &waiting) == 0 ? static_cast<std::size_t>(waiting) : 0;
}

void ResetOnClose(TestSocket const& socket) {
    linger const reset{1, 0};
    ::setsockopt(Native(socket), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
}

}  // namespace qm::test
