// A TLS front end before a plain update server, as a publisher might put one: it listens on one
// loopback address at the protocol's port, speaks TLS (GnuTLS, through TlsPeer) with whoever
// connects, and relays the decrypted bytes to the same port of another address. It can send the
// server's WELCOME in the same segment as the handshake's last flight, and ask the client for a
// renegotiation in the middle of a run. Each connection has a thread of its own; the destructor
// stops everything (bounded: the sockets are shut down, so no thread waits on them).
#pragma once

#include <atomic>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/relay_acceptor.h"
#include "support/tls_peer.h"

namespace qm::test {

struct TlsFrontEndOptions {
    std::string listenAddress;  // 127.0.0.N: what the client connects to
    std::string serverAddress;  // 127.0.0.M: the plain server behind
    std::filesystem::path key{};
    std::filesystem::path certificate{};
    std::string version = "TLS1.2";
    std::string priorities{};  // TlsPeerOptions::priorities
    // The server's WELCOME is read before the handshake ends and leaves with its last flight.
    bool welcomeWithLastFlight = false;
    // Once this many bytes went to the client, a renegotiation is asked for (0: never).
    std::size_t renegotiateAfter = 0;
};

class TlsFrontEnd {
  public:
    explicit TlsFrontEnd(TlsFrontEndOptions options);
    ~TlsFrontEnd();
    TlsFrontEnd(TlsFrontEnd const&) = delete;
    TlsFrontEnd& operator=(TlsFrontEnd const&) = delete;

    bool listening() const { return acceptor_.listening(); }
    // Over every connection so far.
    int handshakes() const { return handshakes_; }
    int declinedRenegotiations() const { return declined_; }
    int renegotiations() const { return renegotiated_; }

  private:
    void Serve(int client, int server);
    // Relays between the client's TLS and the plain server until either side ends.
    void Relay(TlsPeer& peer, int client, int server);

    TlsFrontEndOptions options_;
    std::atomic<int> handshakes_{0};
    std::atomic<int> declined_{0};
    std::atomic<int> renegotiated_{0};
    std::mutex mutex_;
    std::vector<int> sockets_;  // of every connection, shut down by the destructor
    std::vector<std::thread> connections_;
    RelayAcceptor acceptor_;  // the last member: it hands out connections until it is stopped
};

}  // namespace qm::test
