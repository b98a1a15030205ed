// A network link between two loopback addresses, for tests and benchmarks: a TCP proxy that
// listens on one address at the protocol's port and forwards every connection to the same port
// of another, delaying each direction by a fixed one-way time and optionally limiting its rate.
// A tap, if given, sees every block of bytes as it arrives, before the delay. Each connection is
// served by threads of its own; the destructor stops everything (bounded: the sockets are shut
// down, so no thread waits on them).
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
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

    LinkOptions options_;
    std::mutex mutex_;
    std::vector<std::unique_ptr<Connection>> connections_;
    RelayAcceptor acceptor_;  // the last member: it hands out connections until it is stopped
};

}  // namespace qm::test
