// A stand-in for the update server that a test drives step by step: it listens on one loopback
// address at the protocol's port, accepts the updater's connection, sends whatever bytes the test
// gives it and hands back the updater's frames one at a time. Every wait is bounded.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "e2e/wire.h"

namespace qm::e2e {

inline constexpr std::uint16_t kProtocolPort = 34005;
using Millis = std::chrono::milliseconds;
// Long enough for any single step of a healthy updater, also under the sanitizers.
inline constexpr Millis kStepTimeout{10000};

class ScriptedServer {
  public:
    // Listens on `address` (127.0.0.N) at port 34005.
    explicit ScriptedServer(std::string address);
    ~ScriptedServer();
    ScriptedServer(ScriptedServer const&) = delete;
    ScriptedServer& operator=(ScriptedServer const&) = delete;

    std::string const& address() const { return address_; }

    // Waits for the updater to connect.
    ::testing::AssertionResult Accept(Millis timeout = kStepTimeout);
    // True when a connection is waiting or arrives within `timeout`; for tests that expect none.
    bool ConnectionArrives(Millis timeout);

    // Sends raw bytes: one frame, several frames, or any part of one.
    ::testing::AssertionResult Send(std::span<const std::uint8_t> bytes);

    // The next whole frame from the updater; nothing on timeout or when the updater closed
    // (closed() then tells which).
    std::optional<Bytes> ReceiveFrame(Millis timeout = kStepTimeout);
    bool closed() const { return peerClosed_; }

    // Receives the next frame and compares it with `expected` byte for byte.
    ::testing::AssertionResult Expect(Bytes const& expected, Millis timeout = kStepTimeout);
    // Every frame that arrives before the updater closes the connection is one of `allowed`
    // (possibly none arrives).
    ::testing::AssertionResult ExpectOnlyUntilClosed(std::vector<Bytes> const& allowed,
                                                     Millis timeout = kStepTimeout);
    // The updater sends nothing more and closes the connection.
    ::testing::AssertionResult ExpectClosed(Millis timeout = kStepTimeout) {
        return ExpectOnlyUntilClosed({}, timeout);
    }

    // Closes the accepted connection; the listener stays.
    void CloseConnection();

  private:
    bool FillAtLeast(std::size_t count, std::chrono::steady_clock::time_point deadline);

    std::string address_;
    int listener_ = -1;
    int connection_ = -1;
    bool peerClosed_ = false;
    Bytes pending_;  // received bytes not yet handed out as frames
};

// Compares two frames; on a difference names the first differing offset and both frames.
::testing::AssertionResult SameFrame(Bytes const& expected, Bytes const& actual);

}  // namespace qm::e2e
