#include "support/tls_front_end.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <chrono>

#include "support/local_sockets.h"

namespace qm::test {
namespace {

constexpr std::size_t kWelcomeLength = 151;
constexpr int kWelcomeWaitMillis = 10000;

// Exactly `count` bytes from the blocking socket `fd`, waiting a bounded time.
std::vector<std::uint8_t> ReadFirst(int fd, std::size_t count) {
    std::vector<std::uint8_t> bytes(count);
    std::size_t got = 0;
    auto const deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kWelcomeWaitMillis);
    while (got < count && std::chrono::steady_clock::now() < deadline) {
        pollfd ready{fd, POLLIN, 0};
        if (::poll(&ready, 1, 100) <= 0) {
            continue;
        }
        ssize_t const read = ::recv(fd, bytes.data() + got, count - got, 0);
        if (read <= 0) {
            break;
        }
        got += static_cast<std::size_t>(read);
    }
    bytes.resize(got);
    return bytes;
}

}  // namespace

TlsFrontEnd::TlsFrontEnd(TlsFrontEndOptions options)
    : options_(std::move(options)),
      acceptor_(options_.listenAddress, options_.serverAddress, [this](int client, int server) {
          std::lock_guard lock(mutex_);
          sockets_.insert(sockets_.end(), {client, server});
          connections_.emplace_back([this, client, server] { Serve(client, server); });
      }) {}

TlsFrontEnd::~TlsFrontEnd() {
    acceptor_.Stop();
    for (int fd : sockets_) {
        ::shutdown(fd, SHUT_RDWR);
    }
    for (std::thread& connection : connections_) {
        connection.join();
    }
    for (int fd : sockets_) {
        ::close(fd);
    }
}

void TlsFrontEnd::Serve(int client, int server) {
    TlsPeer peer(client, {.server = true,
                          .version = options_.version,
                          .priorities = options_.priorities,
                          .key = options_.key,
                          .certificate = options_.certificate});
    std::vector<std::uint8_t> const welcome = options_.welcomeWithLastFlight
                                                  ? ReadFirst(server, kWelcomeLength)
                                                  : std::vector<std::uint8_t>{};
    if (peer.Handshake() && peer.Send(welcome) && peer.Flush()) {
        ++handshakes_;
        Relay(peer, client, server);
    }
    declined_ += peer.declinedRenegotiations();
    renegotiated_ += peer.renegotiations();
    ::shutdown(client, SHUT_RDWR);
    ::shutdown(server, SHUT_RDWR);
}

void TlsFrontEnd::Relay(TlsPeer& peer, int client, int server) {
    std::array<std::uint8_t, 16384> buffer;
    std::size_t toClient = 0;
    bool asked = false;
    for (;;) {
        std::array<pollfd, 2> watched{pollfd{client, POLLIN, 0}, pollfd{server, POLLIN, 0}};
        if (::poll(watched.data(), watched.size(), peer.HasBuffered() ? 0 : -1) < 0) {
            return;
        }
        if (watched[0].revents != 0 || peer.HasBuffered()) {
            long const got = peer.Receive(buffer);
            if (got != TlsPeer::kNothingYet &&
                (got <= 0 || !SendAll(server, {buffer.data(), static_cast<std::size_t>(got)}))) {
                return;
            }
        }
        if (watched[1].revents != 0) {
            ssize_t const got = ::recv(server, buffer.data(), buffer.size(), 0);
            if (got <= 0 || !peer.Send({buffer.data(), static_cast<std::size_t>(got)}) ||
                !peer.Flush()) {
                return;
            }
            toClient += static_cast<std::size_t>(got);
        }
        if (options_.renegotiateAfter > 0 && !asked && toClient >= options_.renegotiateAfter) {
            asked = true;
            if (!peer.AskForRenegotiation()) {
                return;
            }
        }
    }
}

}  // namespace qm::test
