#include "client_driver.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>

namespace qm::bench {
namespace {

constexpr unsigned short kPort = 34005;

// One connected TCP socket, closed when the object goes.
class Connection {
  public:
    explicit Connection(std::string const& address) : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in server{};
        server.sin_family = AF_INET;
        server.sin_port = htons(kPort);
        if (fd_ >= 0 &&
            (::inet_pton(AF_INET, address.c_str(), &server.sin_addr) != 1 ||
             ::connect(fd_, reinterpret_cast<sockaddr*>(&server), sizeof server) != 0)) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~Connection() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Connection(Connection&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    Connection(Connection const&) = delete;
    Connection& operator=(Connection const&) = delete;
    Connection& operator=(Connection&&) = delete;

    int fd() const { return fd_; }

    bool SendAll(std::vector<std::uint8_t> const& bytes) const {
        for (std::size_t sent = 0; sent < bytes.size();) {
            ssize_t const count =
                ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (count <= 0 && errno != EINTR) {
                return false;
            }
            sent += count > 0 ? static_cast<std::size_t>(count) : 0;
        }
        return true;
    }

  private:
    int fd_;
};

}  // namespace

std::string RunClients(std::string const& address, std::vector<StopAndWaitClient>& clients,
                       std::chrono::seconds timeout) {
    std::vector<Connection> connections;
    std::vector<pollfd> watched;
    for (std::size_t i = 0; i < clients.size(); ++i) {
        connections.emplace_back(address);
        if (connections.back().fd() < 0) {
            return "cannot connect to " + address + ": " + std::strerror(errno);
        }
        watched.push_back(pollfd{connections.back().fd(), POLLIN, 0});
    }
    auto const deadline = std::chrono::steady_clock::now() + timeout;
    std::array<std::uint8_t, 65536> buffer;
    std::vector<std::uint8_t> replies;
    std::size_t running = clients.size();
    while (running > 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            return "clients did not finish in time";
        }
        if (::poll(watched.data(), watched.size(), 1000) < 0 && errno != EINTR) {
            return std::string("poll: ") + std::strerror(errno);
        }
        for (std::size_t i = 0; i < clients.size(); ++i) {
            if ((watched[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0 || watched[i].fd < 0) {
                continue;
            }
            ssize_t const got = ::recv(watched[i].fd, buffer.data(), buffer.size(), 0);
            if (got <= 0) {
                return "connection " + std::to_string(i) + " ended before its file";
            }
            replies.clear();
            clients[i].Receive({buffer.data(), static_cast<std::size_t>(got)}, replies);
            if (clients[i].failed()) {
                return "client " + std::to_string(i) + ": " + clients[i].failure();
            }
            if (!replies.empty() && !connections[i].SendAll(replies)) {
                return "send to the server failed";
            }
            if (clients[i].finished()) {
                watched[i].fd = -1;  // poll skips it from now on
                --running;
            }
        }
    }
    return {};
}

}  // namespace qm::bench
