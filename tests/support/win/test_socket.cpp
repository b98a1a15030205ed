#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <stdexcept>

#include "support/addresses.h"
#include "support/test_socket.h"

namespace qm::test {
namespace {

SOCKET Native(TestSocket const& socket) {
    return static_cast<SOCKET>(socket.get());
}

// Windows Sockets must be started once in the process before the first call.
void StartSockets() {
    static bool const started = [] {
        WSADATA data{};
        return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    (void)started;
}

TestSocket NewSocket() {
    StartSockets();
    SOCKET const socket = ::WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                                       WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    return socket == INVALID_SOCKET ? TestSocket() : TestSocket(static_cast<std::intptr_t>(socket));
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
        ::closesocket(static_cast<SOCKET>(native_));
    }
    native_ = native;
}

TestSocket OpenListener(std::string const& address, std::uint16_t port) {
    TestSocket socket = NewSocket();
    BOOL const yes = TRUE;
    ::setsockopt(Native(socket), SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<char const*>(&yes),
                 sizeof yes);
    sockaddr_in const endpoint = LoopbackEndpoint(address, port);
    if (!socket.valid() ||
        ::bind(Native(socket), reinterpret_cast<sockaddr const*>(&endpoint), sizeof endpoint) !=
            0 ||
        ::listen(Native(socket), 16) != 0) {
        return TestSocket();
    }
    return socket;
}

TestSocket AcceptWithin(TestSocket const& listener, std::chrono::milliseconds wait) {
    WSAPOLLFD ready{Native(listener), POLLRDNORM, 0};
    if (::WSAPoll(&ready, 1, static_cast<INT>(wait.count())) <= 0) {
        return TestSocket();
    }
    SOCKET const accepted = ::accept(Native(listener), nullptr, nullptr);
    if (accepted == INVALID_SOCKET) {
        return TestSocket();
    }
    // An accepted socket takes on the listener's non-blocking mode and asynchronous selection.
    u_long blocking = 0;
    ::ioctlsocket(accepted, FIONBIO, &blocking);
    return TestSocket(static_cast<std::intptr_t>(accepted));
}

std::pair<TestSocket, TestSocket> ConnectedPair() {
    std::string const address = LoopbackAddress(TestAddress::WindowsSocketPair);
    TestSocket const listener = OpenListener(address, 0);
    TestSocket connecting = NewSocket();
    sockaddr_in const endpoint = LoopbackEndpoint(address, LocalPort(listener));
    if (!listener.valid() ||
        ::connect(Native(connecting), reinterpret_cast<sockaddr const*>(&endpoint),
                  sizeof endpoint) != 0) {
        throw std::runtime_error("cannot connect a socket pair on " + address);
    }
    TestSocket accepted = AcceptWithin(listener, std::chrono::seconds(5));
    if (!accepted.valid()) {
        throw std::runtime_error("cannot accept a socket pair on " + address);
    }
    SetNonBlocking(connecting);
    SetNonBlocking(accepted);
    return {std::move(connecting), std::move(accepted)};
}

void SetNonBlocking(TestSocket const& socket) {
    u_long nonBlocking = 1;
    ::ioctlsocket(Native(socket), FIONBIO, &nonBlocking);
}

std::uint16_t LocalPort(TestSocket const& socket) {
    sockaddr_in endpoint{};
    int size = sizeof endpoint;
    ::getsockname(Native(socket), reinterpret_cast<sockaddr*>(&endpoint), &size);
    return ntohs(endpoint.sin_port);
}

bool SendAll(TestSocket const& socket, std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        int const sent = ::send(Native(socket), reinterpret_cast<char const*>(bytes.data()),
                                static_cast<int>(std::min<std::size_t>(bytes.size(), 1 << 20)), 0);
        if (sent <= 0) {
            return false;
        }
        bytes = bytes.subspan(static_cast<std::size_t>(sent));
    }
    return true;
}

std::size_t BytesWaiting(TestSocket const& socket) {
    u_long waiting = 0;
    return ::ioctlsocket(Native(socket), FIONREAD, &waiting) == 0 ? waiting : 0;
}

void ResetOnClose(TestSocket const& socket) {
    linger const reset{1, 0};
    ::setsockopt(Native(socket), SOL_SOCKET, SO_LINGER, reinterpret_cast<char const*>(&reset),
                 sizeof reset);
}

}  // namespace qm::test
