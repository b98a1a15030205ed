#include "support/relay_acceptor.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>

#include "support/local_sockets.h"

namespace qm::test {

RelayAcceptor::RelayAcceptor(std::string const& listenAddress, std::string serverAddress,
                             std::function<void(int client, int server)> relay)
    : serverAddress_(std::move(serverAddress)), relay_(std::move(relay)) {
    int stop[2];
    if (::pipe2(stop, O_CLOEXEC) != 0) {
        return;
    }
    stopRead_ = stop[0];
    stopWrite_ = stop[1];
    listener_ = ListenOn(listenAddress, 16);
    if (listener_ >= 0) {
        thread_ = std::thread([this] { AcceptLoop(); });
    }
}

RelayAcceptor::~RelayAcceptor() {
    Stop();
    for (int fd : {listener_, stopRead_, stopWrite_}) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

void RelayAcceptor::Stop() {
    if (stopWrite_ >= 0) {
        char const stop = 0;
        [[maybe_unused]] ssize_t const written = ::write(stopWrite_, &stop, 1);
    }
    if (thread_.joinable()) {
        thread_.join();
    }
}

void RelayAcceptor::AcceptLoop() {
    for (;;) {
        std::array<pollfd, 2> watched{pollfd{listener_, POLLIN, 0}, pollfd{stopRead_, POLLIN, 0}};
        if (::poll(watched.data(), watched.size(), -1) < 0 || watched[1].revents != 0) {
            return;
        }
        int const client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) {
            continue;
        }
        int const server = ConnectTo(serverAddress_);
        if (server < 0) {
            ::close(client);
            continue;
        }
        relay_(client, server);
    }
}

}  // namespace qm::test
