// A TCP socket of the test's own on loopback, closed when it goes: the server's end of the
// updater's connection in tests that turn the platform's loop, and connected pairs of such
// sockets. One implementation per platform (unix/, win/); a socket is held as the system's
// handle widened to std::intptr_t (a SOCKET on Windows is 64 bits), -1 for none.
#pragma once

#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <utility>

namespace qm::test {

class TestSocket {
  public:
    TestSocket() = default;
    explicit TestSocket(std::intptr_t native) : native_(native) {}
    ~TestSocket() { Reset(); }
    TestSocket(TestSocket&& other) noexcept : native_(other.Release()) {}
    TestSocket& operator=(TestSocket&& other) noexcept {
        if (this != &other) {
            Reset(other.Release());
        }
        return *this;
    }
    TestSocket(TestSocket const&) = delete;
    TestSocket& operator=(TestSocket const&) = delete;

    std::intptr_t get() const { return native_; }
    bool valid() const { return native_ != -1; }
    // Closes the socket held, if any, and holds `native`.
    void Reset(std::intptr_t native = -1);
    // Gives the socket up without closing it.
    std::intptr_t Release() { return std::exchange(native_, -1); }

  private:
    std::intptr_t native_ = -1;
};

// A blocking socket listening on `address` (127.0.0.N) at `port` (0: any free port), the address
// usable again at once; not valid when it cannot listen there.
TestSocket OpenListener(std::string const& address, std::uint16_t port);
// The connection waiting on `listener`, waiting for one at most `wait`; blocking. Not valid when
// none came.
TestSocket AcceptWithin(TestSocket const& listener, std::chrono::milliseconds wait);
// Two connected stream sockets, both non-blocking; throws when none can be made. A socketpair(2)
// on POSIX systems; a TCP connection on its own loopback address on Windows, which has none.
std::pair<TestSocket, TestSocket> ConnectedPair();

void SetNonBlocking(TestSocket const& socket);
// The local port the socket is bound to.
std::uint16_t LocalPort(TestSocket const& socket);
// Sends all of `bytes` on a blocking socket; false when a send fails.
bool SendAll(TestSocket const& socket, std::span<const std::uint8_t> bytes);
// The bytes received and not yet read.
std::size_t BytesWaiting(TestSocket const& socket);
// Makes the close that follows a reset (RST) rather than an orderly end.
void ResetOnClose(TestSocket const& socket);

}  // namespace qm::test
