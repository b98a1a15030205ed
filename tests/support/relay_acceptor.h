// The accepting half of a relay between two loopback addresses (the link emulator, the TLS front
// end): it listens on one address at the protocol's port, and for every connection there opens
// one to the same port of another address and hands both to its owner, on a thread of its own.
// Stop (or the destructor) ends that thread; the connections handed out stay the owner's.
#pragma once

#include <functional>
#include <string>
#include <thread>

namespace qm::test {

class RelayAcceptor {
  public:
    // `relay` is called on the acceptor's thread with the accepted socket and the one connected to
    // `serverAddress`, both blocking and close-on-exec; it owns them from then on.
    RelayAcceptor(std::string const& listenAddress, std::string serverAddress,
                  std::function<void(int client, int server)> relay);
    ~RelayAcceptor();
    RelayAcceptor(RelayAcceptor const&) = delete;
    RelayAcceptor& operator=(RelayAcceptor const&) = delete;

    bool listening() const { return listener_ >= 0; }
    // No connection is handed out once it returns.
    void Stop();

  private:
    void AcceptLoop();

    std::string serverAddress_;
    std::function<void(int, int)> relay_;
    int listener_ = -1;
    int stopRead_ = -1;
    int stopWrite_ = -1;
    std::thread thread_;
};

}  // namespace qm::test
