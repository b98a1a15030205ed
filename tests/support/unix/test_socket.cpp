#include <stdexcept>

#include "support/test_socket.h"
#include "support/test_socket_halves.h"

namespace qm::test {

TestSocket AcceptWithin(TestSocket const& listener, std::chrono::milliseconds wait) {
    pollfd ready{NativeOf(listener), POLLIN, 0};
    if (::poll(&ready, 1, static_cast<int>(wait.count())) <= 0) {
        return TestSocket();
    }
    return TestSocket(::accept4(NativeOf(listener), nullptr, nullptr, SOCK_CLOEXEC));
}

std::pair<TestSocket, TestSocket> ConnectedPair() {
    int ends[2] = {-1, -1};
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, ends) != 0) {
        throw std::runtime_error("socketpair failed");
    }
    return {TestSocket(ends[0]), TestSocket(ends[1])};
}

void SetNonBlocking(TestSocket const& socket) {
    ::fcntl(NativeOf(socket), F_SETFL, ::fcntl(NativeOf(socket), F_GETFL) | O_NONBLOCK);
}

std::size_t BytesWaiting(TestSocket const& socket) {
    int waiting = 0;
    return ::ioctl(NativeOf(socket), FIONREAD, &waiting) == 0 ? static_cast<std::size_t>(waiting)
                                                              : 0;
}

}  // namespace qm::test
