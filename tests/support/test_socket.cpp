#include "support/test_socket.h"

#include <algorithm>

#include "support/test_socket_halves.h"

namespace qm::test {

void TestSocket::Reset(std::intptr_t native) {
    if (native_ != -1) {
        system::CloseSocket(native_);
    }
    native_ = native;
}

system::Native NativeOf(TestSocket const& socket) {
    return static_cast<system::Native>(socket.get());
}

sockaddr_in LoopbackEndpoint(std::string const& address, std::uint16_t port) {
    sockaddr_in endpoint{};
    endpoint.sin_family = AF_INET;
    endpoint.sin_port = htons(port);
    ::inet_pton(AF_INET, address.c_str(), &endpoint.sin_addr);
    return endpoint;
}

TestSocket OpenListener(std::string const& address, std::uint16_t port) {
    TestSocket socket(system::OpenTcpSocket());
    int const yes = 1;
    ::setsockopt(NativeOf(socket), SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<char const*>(&yes),
                 sizeof yes);
    sockaddr_in const endpoint = LoopbackEndpoint(address, port);
    if (!socket.valid() ||
        ::bind(NativeOf(socket), reinterpret_cast<sockaddr const*>(&endpoint), sizeof endpoint) !=
            0 ||
        ::listen(NativeOf(socket), 16) != 0) {
        return TestSocket();
    }
    return socket;
}

std::uint16_t LocalPort(TestSocket const& socket) {
    sockaddr_in endpoint{};
    socklen_t size = sizeof endpoint;
    ::getsockname(NativeOf(socket), reinterpret_cast<sockaddr*>(&endpoint), &size);
    return ntohs(endpoint.sin_port);
}

bool SendAll(TestSocket const& socket, std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        auto const sent = ::send(NativeOf(socket), reinterpret_cast<char const*>(bytes.data()),
                                 static_cast<int>(std::min<std::size_t>(bytes.size(), 1 << 20)),
                                 system::kSendFlags);
        if (sent <= 0) {
            return false;
        }
        bytes = bytes.subspan(static_cast<std::size_t>(sent));
    }
    return true;
}

void ResetOnClose(TestSocket const& socket) {
    linger const reset{1, 0};
    ::setsockopt(NativeOf(socket), SOL_SOCKET, SO_LINGER, reinterpret_cast<char const*>(&reset),
                 sizeof reset);
}

}  // namespace qm::test
