// The POSIX socket calls that the tests' own sockets make (test_socket.cpp, address_text.cpp).
// Its Windows twin is win/test_socket_system.h; the build puts the platform's on the include
// path.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>

namespace qm::test::system {

using Native = int;
inline constexpr int kSendFlags = MSG_NOSIGNAL;  // a closed peer is an error, not a signal

inline std::intptr_t OpenTcpSocket() {
    return ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
}
inline void CloseSocket(std::intptr_t socket) {
    ::close(static_cast<int>(socket));
}

}  // namespace qm::test::system
