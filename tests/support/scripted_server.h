// A stand-in for the update server that a test drives step by step: it listens on one loopback
// address at the protocol's port, accepts the updater's connection, sends whatever bytes the test
// gives it (a frame, several, any part of one; or nothing, to stall) and hands back the updater's
// frames one at a time; it can close or reset the connection. Every wait is bounded. A
// ServerThread plays a script on it on a thread of its own, for tests whose own thread runs an
// event loop.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "support/addresses.h"
#include "support/local_sockets.h"
#include "support/process.h"
#include "support/wire.h"

namespace qm::test {

// Long enough for any single step of a healthy updater, also under the sanitizers.
inline constexpr Millis kStepTimeout{10000};
inline constexpr std::uint16_t kProtocolPort = kPort;

class ScriptedServer {
  public:
    // Listens on `address` (127.0.0.N) at port 34005.
    explicit ScriptedServer(std::string address);
    explicit ScriptedServer(TestAddress address) : ScriptedServer(LoopbackAddress(address)) {}
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
    // Closes it with a reset instead of an orderly close.
    void ResetConnection();

  private:
    bool FillAtLeast(std::size_t count, std::chrono::steady_clock::time_point deadline);

    std::string address_;
    int listener_ = -1;
    int connection_ = -1;
    bool peerClosed_ = false;
    Bytes pending_;  // received bytes not yet handed out as frames
};

// Plays `script` on a scripted server on a thread of its own, once the server listens. What went
// wrong is kept for the test to check after Join.
class ServerThread {
  public:
    using Script = std::function<::testing::AssertionResult(ScriptedServer&, ServerThread&)>;
    ServerThread(std::string address, Script script);
    ~ServerThread() { Join(); }
    ServerThread(ServerThread const&) = delete;
    ServerThread& operator=(ServerThread const&) = delete;

    // Waits for the script to end (it is bounded by its own waits).
    void Join();
    bool finished() const { return finished_.load(); }
    // Lets a script that waits for the test go on.
    void Release() { released_ = true; }
    // For the script: keeps the connection until the test releases it (bounded).
    void WaitForRelease(Millis timeout = 2 * kStepTimeout);
    // Joins; fails with what went wrong when the script did not run to its end.
    ::testing::AssertionResult Succeeded();

  private:
    ScriptedServer server_;
    std::atomic<bool> finished_{false};
    std::atomic<bool> released_{false};
    std::string failure_;  // written by the script's thread, read once it is joined
    std::thread thread_;
};

// `expected` occurs in the program's output lines in this order (other lines may come between).
::testing::AssertionResult PrintedInOrder(Process const& program,
                                          std::vector<std::string> const& expected);

// The program printed exactly one box, with this caption and a text that starts with `textStart`.
::testing::AssertionResult OneBox(Process const& program, std::string_view caption,
                                  std::string_view textStart = "");

// Compares two frames; on a difference names the first differing offset and both frames.
::testing::AssertionResult SameFrame(Bytes const& expected, Bytes const& actual);

}  // namespace qm::test
