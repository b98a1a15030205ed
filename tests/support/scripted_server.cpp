#include "support/scripted_server.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace qm::test {
namespace {

int RemainingMillis(Clock::time_point deadline) {
    auto const left = std::chrono::duration_cast<Millis>(deadline - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, 60000));
}

// Waits until `fd` is ready for `events` or the deadline passes.
bool WaitFor(int fd, short events, Clock::time_point deadline) {
    for (;;) {
        pollfd entry{fd, events, 0};
        int const ready = ::poll(&entry, 1, RemainingMillis(deadline));
        if (ready > 0) {
            return true;
        }
        if (ready == 0 || errno != EINTR) {
            return false;
        }
    }
}

std::string Hex(std::span<const std::uint8_t> bytes, std::size_t from, std::size_t count) {
    std::string text;
    for (std::size_t i = from; i < std::min(bytes.size(), from + count); ++i) {
        char cell[4];
        std::snprintf(cell, sizeof cell, "%02X ", bytes[i]);
        text += cell;
    }
    return text;
}

std::string ErrnoText(char const* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

}  // namespace

::testing::AssertionResult SameFrame(Bytes const& expected, Bytes const& actual) {
    if (expected == actual) {
        return ::testing::AssertionSuccess();
    }
    auto const [left, right] =
        std::mismatch(expected.begin(), expected.end(), actual.begin(), actual.end());
    std::size_t const offset = static_cast<std::size_t>(left - expected.begin());
    std::size_t const from = offset < 8 ? 0 : offset - 8;
    (void)right;
    return ::testing::AssertionFailure()
           << "frames differ at offset " << offset << "\n  expected " << DescribeFrame(expected)
           << ": ... " << Hex(expected, from, 24) << "\n  received " << DescribeFrame(actual)
           << ": ... " << Hex(actual, from, 24) << "\n  (both shown from offset " << from << ")";
}

::testing::AssertionResult PrintedInOrder(Process const& program,
                                          std::vector<std::string> const& expected) {
    std::string const missing = program.MissingInOrder(expected);
    if (missing.empty()) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << missing;
}

::testing::AssertionResult OneBox(Process const& program, std::string_view caption,
                                  std::string_view textStart) {
    std::vector<std::string> const boxes = program.Boxes();
    std::string const prefix = "box: [" + std::string(caption) + "] " + std::string(textStart);
    if (boxes.size() == 1 && boxes[0].starts_with(prefix)) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "not one box \"" << prefix << "...\"\n"
                                         << program.Transcript();
}

ScriptedServer::ScriptedServer(std::string address)
    : address_(std::move(address)), listener_(ListenOn(address_, 4)) {}

ScriptedServer::~ScriptedServer() {
    CloseConnection();
    if (listener_ >= 0) {
        ::close(listener_);
    }
}

::testing::AssertionResult ScriptedServer::Accept(Millis timeout) {
    if (listener_ < 0) {
        return ::testing::AssertionFailure()
               << "cannot listen on " << address_ << ":" << kProtocolPort;
    }
    if (!WaitFor(listener_, POLLIN, Clock::now() + timeout)) {
        return ::testing::AssertionFailure() << "no connection within " << timeout.count() << " ms";
    }
    connection_ = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (connection_ < 0) {
        return ::testing::AssertionFailure() << ErrnoText("accept");
    }
    peerClosed_ = false;
    pending_.clear();
    return ::testing::AssertionSuccess();
}

bool ScriptedServer::ConnectionArrives(Millis timeout) {
    return listener_ >= 0 && WaitFor(listener_, POLLIN, Clock::now() + timeout);
}

::testing::AssertionResult ScriptedServer::Send(std::span<const std::uint8_t> bytes) {
    auto const deadline = Clock::now() + kStepTimeout;
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        if (connection_ < 0 || !WaitFor(connection_, POLLOUT, deadline)) {
            return ::testing::AssertionFailure()
                   << "could not send " << bytes.size() << " bytes (" << sent << " sent)";
        }
        ssize_t const done = ::send(connection_, bytes.data() + sent, bytes.size() - sent,
                                    MSG_NOSIGNAL | MSG_DONTWAIT);
        if (done < 0 && errno != EAGAIN && errno != EINTR) {
            return ::testing::AssertionFailure() << ErrnoText("send");
        }
        sent += done > 0 ? static_cast<std::size_t>(done) : 0;
    }
    return ::testing::AssertionSuccess();
}

bool ScriptedServer::FillAtLeast(std::size_t count, Clock::time_point deadline) {
    while (pending_.size() < count) {
        if (connection_ < 0 || peerClosed_ || !WaitFor(connection_, POLLIN, deadline)) {
            return false;
        }
        std::uint8_t chunk[4096];
        ssize_t const got = ::recv(connection_, chunk, sizeof chunk, MSG_DONTWAIT);
        if (got > 0) {
            pending_.insert(pending_.end(), chunk, chunk + got);
        } else if (got == 0 || (errno != EAGAIN && errno != EINTR)) {
            peerClosed_ = true;  // an orderly close or a reset: either way the updater is gone
        }
    }
    return true;
}

std::optional<Bytes> ScriptedServer::ReceiveFrame(Millis timeout) {
    auto const deadline = Clock::now() + timeout;
    if (!FillAtLeast(2, deadline)) {
        return std::nullopt;
    }
    // A length below 2 cannot even hold its own length field; hand it out as it is.
    std::size_t const length = std::max<std::size_t>(2, (pending_[0] << 8) | pending_[1]);
    if (!FillAtLeast(length, deadline)) {
        return std::nullopt;
    }
    Bytes frame(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(length));
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(length));
    return frame;
}

::testing::AssertionResult ScriptedServer::Expect(Bytes const& expected, Millis timeout) {
    std::optional<Bytes> const frame = ReceiveFrame(timeout);
    if (!frame) {
        return ::testing::AssertionFailure()
               << "expected a frame of " << DescribeFrame(expected) << ", but "
               << (peerClosed_ ? "the updater closed the connection" : "none arrived in time")
               << (pending_.empty() ? "" : " (a partial frame is pending)");
    }
    return SameFrame(expected, *frame);
}

::testing::AssertionResult ScriptedServer::ExpectOnlyUntilClosed(std::vector<Bytes> const& allowed,
                                                                 Millis timeout) {
    auto const deadline = Clock::now() + timeout;
    // Bounded: each frame is at least two bytes, and the deadline ends the wait in any case.
    for (int frames = 0; frames < 10000; ++frames) {
        std::optional<Bytes> const frame =
            ReceiveFrame(std::chrono::duration_cast<Millis>(deadline - Clock::now()));
        if (!frame) {
            if (peerClosed_ && pending_.empty()) {
                return ::testing::AssertionSuccess();
            }
            return ::testing::AssertionFailure()
                   << (peerClosed_ ? "the updater left a partial frame"
                                   : "the updater did not close the connection in time");
        }
        if (std::find(allowed.begin(), allowed.end(), *frame) == allowed.end()) {
            ::testing::AssertionResult failure = ::testing::AssertionFailure();
            failure << "unexpected frame of " << DescribeFrame(*frame);
            for (Bytes const& candidate : allowed) {
                failure << "\n" << SameFrame(candidate, *frame).message();
            }
            return failure;
        }
    }
    return ::testing::AssertionFailure() << "the updater kept sending frames";
}

void ScriptedServer::ResetConnection() {
    if (connection_ >= 0) {
        linger const abort{1, 0};
        ::setsockopt(connection_, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    }
    CloseConnection();
}

ServerThread::ServerThread(std::string address, Script script) : server_(std::move(address)) {
    thread_ = std::thread([this, script = std::move(script)] {
        ::testing::AssertionResult const result = script(server_, *this);
        if (!result) {
            failure_ = result.message();
        }
        finished_ = true;
    });
}

void ServerThread::Join() {
    Release();
    if (thread_.joinable()) {
        thread_.join();
    }
}

void ServerThread::WaitForRelease(Millis timeout) {
    auto const deadline = Clock::now() + timeout;
    while (!released_ && Clock::now() < deadline) {
        std::this_thread::sleep_for(Millis(10));
    }
}

::testing::AssertionResult ServerThread::Succeeded() {
    Join();
    if (failure_.empty()) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "server: " << failure_;
}

void ScriptedServer::CloseConnection() {
    if (connection_ >= 0) {
        ::close(connection_);
        connection_ = -1;
    }
}

}  // namespace qm::test
