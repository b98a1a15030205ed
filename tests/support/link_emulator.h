// A network link between two loopback addresses, for tests and benchmarks: a TCP proxy that
// listens on one address at the protocol's port and forwards every connection to the same port
// of another, delaying each direction by a fixed one-way time and optionally limiting its rate.
// It can also cut each connection after a number of bytes towards the client, and go silent once
// for a while. A tap, if given, sees every block of bytes as it arrives, before the delay; another
// callback sees the bytes that leave the link. Each connection is served by threads of its own;
// the destructor stops everything (bounded: the sockets are shut down, so no thread waits on
// them).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "support/relay_acceptor.h"

namespace qm::test {

enum class LinkDirection { ToServer, ToClient };

struct LinkOptions {
    std::string listenAddress;  // 127.0.0.N: what the client connects to
    std::string serverAddress;  // 127.0.0.M: where the link leads
    std::chrono::microseconds oneWayDelay{0};
    std::uint64_t bytesPerSecond = 0;  // in each direction; 0: no limit
    // Called on the direction's own thread, with the time the bytes arrived.
    std::function<void(LinkDirection, std::span<const std::uint8_t>,
                       std::chrono::steady_clock::time_point)>
        tap{};
    // Each connection is cut (both of its sockets shut down) once it has carried this many bytes
    // towards the client: a frame may be cut in two. 0: never.
    std::uint64_t cutEveryToClient = 0;
    // Once, when the link has carried `silentAfter` bytes towards the client (all connections
    // together), it goes silent for `silence`: no byte leaves it on any connection, old or new,
    // until that time is over; what arrives meanwhile waits. 0: never.
    std::uint64_t silentAfter = 0;
    std::chrono::milliseconds silence{0};
    // Called with the bytes as they leave the link, and the connection's number (from 0, in the
    // order they were accepted); on the direction's own thread.
    std::function<void(std::size_t connection, LinkDirection, std::span<const std::uint8_t>)>
        delivered{};
};

class LinkEmulator {
  public:
    explicit LinkEmulator(LinkOptions options);
    ~LinkEmulator();
    LinkEmulator(LinkEmulator const&) = delete;
    LinkEmulator& operator=(LinkEmulator const&) = delete;

    bool listening() const { return acceptor_.listening(); }

  private:
    class Connection;
    // What the connections share: the bytes carried towards the client and the silence.
    struct Shared {
        std::mutex mutex;
        std::condition_variable changed;
        std::uint64_t toClient = 0;
        std::optional<std::chrono::steady_clock::time_point> silentUntil;
        bool stopping = false;
    };

    LinkOptions options_;
    Shared shared_;
    std::mutex mutex_;
    std::vector<std::unique_ptr<Connection>> connections_;
    RelayAcceptor acceptor_;  // the last member: it hands out connections until it is stopped
};

}  // namespace qm::test
