#include "support/local_sockets.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "support/test_socket.h"

namespace qm::test {
namespace {

// Connects or binds a fresh socket to the address; -1, the socket closed, when that fails.
template <typename Step>
int Socket(std::string const& address, std::uint16_t port, Step step) {
    int const fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_port = htons(port);
    if (fd >= 0 && (::inet_pton(AF_INET, address.c_str(), &where.sin_addr) != 1 ||
                    step(fd, reinterpret_cast<sockaddr const*>(&where), sizeof where) != 0)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

std::pair<int, int> OpenSocketPair() {
    auto [first, second] = ConnectedPair();
    return {static_cast<int>(first.Release()), static_cast<int>(second.Release())};
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

int BoundTo(std::string const& address, std::uint16_t port) {
    return Socket(address, port, [](int fd, sockaddr const* where, socklen_t size) {
        int const yes = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        return ::bind(fd, where, size);
    });
}

int ListenOn(std::string const& address, int backlog, std::uint16_t port) {
    int const fd = BoundTo(address, port);
    if (fd >= 0 && ::listen(fd, backlog) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

int ConnectTo(std::string const& address, std::uint16_t port) {
    return Socket(address, port, ::connect);
}

bool SendAll(int fd, std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        ssize_t const sent = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent <= 0) {
            return false;
        }
        bytes = bytes.subspan(static_cast<std::size_t>(sent));
    }
    return true;
}

bool Listening(std::string const& address, std::uint16_t port) {
    in_addr binary{};
    if (::inet_pton(AF_INET, address.c_str(), &binary) != 1) {
        return false;
    }
    // Lines of /proc/net/tcp: "sl local_address rem_address st ...", addresses as the hex of
    // the 32-bit value in host order and the port, state 0A for LISTEN.
    char wanted[16];
    std::snprintf(wanted, sizeof wanted, "%08X:%04X", binary.s_addr, port);
    std::ifstream table("/proc/net/tcp");
    std::string line;
    std::getline(table, line);
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state;
        fields >> slot >> local >> remote >> state;
        if (local == wanted && state == "0A") {
            return true;
        }
    }
    return false;
}

}  // namespace qm::test
