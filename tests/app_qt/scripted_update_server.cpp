#include "scripted_update_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

namespace qm::app::qt::test {
namespace {

using Clock = std::chrono::steady_clock;

int MillisLeft(Clock::time_point until) {
    auto const left = std::chrono::duration_cast<Millis>(until - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// Waits until `fd` is readable; false on timeout.
bool Readable(int fd, Clock::time_point until) {
    while (true) {
        struct pollfd ready {
            fd, POLLIN, 0
        };
        int const result = poll(&ready, 1, MillisLeft(until));
        if (result < 0 && errno == EINTR) {
            continue;
        }
        return result > 0;
    }
}

int Listen(std::string const& address) {
    int const fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_port = htons(kProtocolPort);
    inet_pton(AF_INET, address.c_str(), &where.sin_addr);
    if (bind(fd, reinterpret_cast<sockaddr*>(&where), sizeof where) != 0 || listen(fd, 4) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

bool ServerConnection::Send(Bytes const& frame) {
    std::size_t sent = 0;
    while (sent < frame.size()) {
        ssize_t const result =
            send(socket_, frame.data() + sent, frame.size() - sent, MSG_NOSIGNAL);
        if (result <= 0) {
            Fail("send failed");
            return false;
        }
        sent += static_cast<std::size_t>(result);
    }
    return true;
}

bool ServerConnection::ReadExactly(std::size_t count, Bytes& into, Clock::time_point until) {
    while (count > 0) {
        if (!Readable(socket_, until)) {
            return false;
        }
        std::uint8_t buffer[4096];
        ssize_t const got = recv(socket_, buffer, std::min(count, sizeof buffer), 0);
        if (got <= 0) {
            peerClosed_ = true;
            return false;
        }
        into.insert(into.end(), buffer, buffer + got);
        count -= static_cast<std::size_t>(got);
    }
    return true;
}

std::optional<Bytes> ServerConnection::Receive(Millis timeout) {
    auto const until = Clock::now() + timeout;
    Bytes frame;
    if (!ReadExactly(2, frame, until)) {
        return std::nullopt;
    }
    std::size_t const length = (std::size_t{frame[0]} << 8) | frame[1];
    if (length < 3 || !ReadExactly(length - 2, frame, until)) {
        return std::nullopt;
    }
    return frame;
}

std::optional<Bytes> ServerConnection::Expect(std::uint8_t type, std::uint8_t kind,
                                              std::size_t length, char const* what) {
    std::optional<Bytes> frame = Receive();
    if (!frame) {
        Fail(std::string("no ") + what + (peerClosed_ ? " (connection closed)" : " (timeout)"));
        return std::nullopt;
    }
    if (FrameType(*frame) != type || Kind(*frame) != kind || frame->size() != length) {
        Fail(std::string("expected ") + what + ", got type " + std::to_string(FrameType(*frame)) +
             " kind " + std::to_string(Kind(*frame)) + " length " + std::to_string(frame->size()));
        return std::nullopt;
    }
    return frame;
}

bool ServerConnection::ClosedByPeer(Millis timeout) {
    auto const until = Clock::now() + timeout;
    while (Readable(socket_, until)) {
        std::uint8_t buffer[4096];
        ssize_t const got = recv(socket_, buffer, sizeof buffer, 0);
        if (got == 0 || (got < 0 && errno != EINTR && errno != EAGAIN)) {
            return true;
        }
        if (got > 0) {
            Fail("the updater sent " + std::to_string(got) + " more bytes before closing");
        }
    }
    return false;
}

void ServerConnection::WaitForRelease(Millis timeout) {
    auto const until = Clock::now() + timeout;
    while (!released_() && Clock::now() < until) {
        std::this_thread::sleep_for(Millis{5});
    }
    if (!released_()) {
        Fail("the test did not release the server");
    }
}

ScriptedUpdateServer::ScriptedUpdateServer(std::string const& address, Script script)
    : listener_(Listen(address)) {
    if (listener_ < 0) {
        Fail("cannot listen on " + address + ":" + std::to_string(kProtocolPort));
        finished_ = true;
        return;
    }
    thread_ = std::thread([this, script = std::move(script)] { Play(script); });
}

ScriptedUpdateServer::~ScriptedUpdateServer() {
    Join();
    if (listener_ >= 0) {
        close(listener_);
    }
}

void ScriptedUpdateServer::Join() {
    if (thread_.joinable()) {
        thread_.join();
    }
}

void ScriptedUpdateServer::Play(Script const& script) {
    if (!Readable(listener_, Clock::now() + kStepTimeout)) {
        Fail("the updater did not connect");
        finished_ = true;
        return;
    }
    int const connection = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (connection < 0) {
        Fail("accept failed");
    } else {
        ServerConnection side(
            connection, [this](std::string what) { Fail(std::move(what)); },
            [this] { return released_.load(); });
        script(side);
        close(connection);
    }
    finished_ = true;
}

void ScriptedUpdateServer::Fail(std::string what) {
    std::lock_guard const lock(mutex_);
    failures_.push_back(std::move(what));
}

std::vector<std::string> ScriptedUpdateServer::Failures() const {
    std::lock_guard const lock(mutex_);
    return failures_;
}

}  // namespace qm::app::qt::test
