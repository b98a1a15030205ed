#include "support/local_sockets.h"

#include <sys/socket.h>

#include <stdexcept>

namespace qm::test {

std::pair<int, int> OpenSocketPair() {
    int ends[2] = {-1, -1};
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, ends) != 0) {
        throw std::runtime_error("socketpair failed");
    }
    return {ends[0], ends[1]};
}

std::vector<std::uint8_t> DrainAll(int fd) {
    std::vector<std::uint8_t> bytes;
    std::uint8_t chunk[65536];
    for (int attempt = 0; attempt < 100000; ++attempt) {
        ssize_t const got = ::recv(fd, chunk, sizeof chunk, 0);
        if (got <= 0) {
            break;
        }
        bytes.insert(bytes.end(), chunk, chunk + got);
    }
    return bytes;
}

}  // namespace qm::test
