#include "support/raw_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

namespace qm::test {
namespace {

sockaddr_in Ipv4(std::string const& address, std::uint16_t port) {
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_port = htons(port);
    ::inet_pton(AF_INET, address.c_str(), &where.sin_addr);
    return where;
}

}  // namespace

RawClient::RawClient(std::string const& address, Options const& options)
    : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)), timeout_(options.timeout) {
    timeval const timeout{static_cast<time_t>(options.timeout.count() / 1000),
                          static_cast<suseconds_t>(options.timeout.count() % 1000 * 1000)};
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    if (options.receiveBuffer > 0) {
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &options.receiveBuffer,
                     sizeof options.receiveBuffer);
    }
    if (!options.source.empty()) {
        sockaddr_in const source = Ipv4(options.source, 0);
        if (::bind(fd_, reinterpret_cast<sockaddr const*>(&source), sizeof source) != 0) {
            return;
        }
    }
    sockaddr_in const server = Ipv4(address, kPort);
    connected_ = ::connect(fd_, reinterpret_cast<sockaddr const*>(&server), sizeof server) == 0;
}

RawClient::~RawClient() {
    ::close(fd_);
}

bool RawClient::Send(std::span<const std::uint8_t> bytes) {
    return ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
           static_cast<ssize_t>(bytes.size());
}

std::vector<std::uint8_t> RawClient::Receive(std::size_t count) {
    std::vector<std::uint8_t> bytes(count);
    std::size_t got = 0;
    while (got < count) {
        ssize_t const n = ::recv(fd_, bytes.data() + got, count - got, 0);
        if (n <= 0) {
            break;
        }
        got += static_cast<std::size_t>(n);
    }
    bytes.resize(got);
    return bytes;
}

bool RawClient::ClosedByPeer() {
    std::uint8_t bytes[4096];
    auto const deadline = std::chrono::steady_clock::now() + 2 * timeout_;
    while (std::chrono::steady_clock::now() < deadline) {
        ssize_t const n = ::recv(fd_, bytes, sizeof bytes, 0);
        if (n <= 0) {
            return n == 0 || (n < 0 && errno == ECONNRESET);
        }
    }
    return false;
}

bool RawClient::OpenAfter(std::chrono::milliseconds wait) {
    pollfd watch{fd_, POLLRDHUP, 0};
    int const ready = ::poll(&watch, 1, static_cast<int>(wait.count()));
    return ready == 0;
}

}  // namespace qm::test
