#include <stdexcept>

#include "support/addresses.h"
#include "support/test_socket.h"
#include "support/test_socket_halves.h"

namespace qm::test {

TestSocket AcceptWithin(TestSocket const& listener, std::chrono::milliseconds wait) {
    WSAPOLLFD ready{NativeOf(listener), POLLRDNORM, 0};
    if (::WSAPoll(&ready, 1, static_cast<INT>(wait.count())) <= 0) {
        return TestSocket();
    }
    SOCKET const accepted = ::accept(NativeOf(listener), nullptr, nullptr);
    if (accepted == INVALID_SOCKET) {
        return TestSocket();
    }
    // An accepted socket takes on the listener's mode: made blocking, as on POSIX systems.
    u_long blocking = 0;
    ::ioctlsocket(accepted, FIONBIO, &blocking);
    return TestSocket(static_cast<std::intptr_t>(accepted));
}

// Windows has no socketpair: a TCP connection on a loopback address of its own.
std::pair<TestSocket, TestSocket> ConnectedPair() {
    std::string const address = LoopbackAddress(TestAddress::WindowsSocketPair);
    TestSocket const listener = OpenListener(address, 0);
    TestSocket connecting(system::OpenTcpSocket());
    sockaddr_in const endpoint = LoopbackEndpoint(address, LocalPort(listener));
    if (!listener.valid() ||
        ::connect(NativeOf(connecting), reinterpret_cast<sockaddr const*>(&endpoint),
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
    ::ioctlsocket(NativeOf(socket), FIONBIO, &nonBlocking);
}

std::size_t BytesWaiting(TestSocket const& socket) {
    u_long waiting = 0;
    return ::ioctlsocket(NativeOf(socket), FIONREAD, &waiting) == 0 ? waiting : 0;
}

}  // namespace qm::test
