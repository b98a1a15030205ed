// The Windows Sockets calls that the tests' own sockets make (test_socket.cpp, address_text.cpp).
// Its POSIX twin is unix/test_socket_system.h; the build puts the platform's on the include path.
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdint>

namespace qm::test::system {

using Native = SOCKET;
inline constexpr int kSendFlags = 0;

// Windows Sockets are started once in the process, before the first socket.
inline std::intptr_t OpenTcpSocket() {
    static bool const started = [] {
        WSADATA data{};
        return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    (void)started;
    SOCKET const socket = ::WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                                       WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    return socket == INVALID_SOCKET ? -1 : static_cast<std::intptr_t>(socket);
}
inline void CloseSocket(std::intptr_t socket) {
    ::closesocket(static_cast<SOCKET>(socket));
}

}  // namespace qm::test::system
