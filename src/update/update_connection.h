// The socket side of an update run: starts the connect, binds the client link to the new socket
// with the WELCOME handshake, feeds the received bytes through the frame reassembly into the
// update session, and sends what the session leaves to be sent. Every socket event becomes an
// event of the session; a send that fails is one of them.
#pragma once

#include <chrono>
#include <span>
#include <string>
#include <vector>

#include "net/client_link.h"
#include "net/frame.h"
#include "net/host_resolver.h"
#include "net/idle_timer.h"
#include "net/portwell.h"
#include "net/timer.h"
#include "update/update_session.h"

namespace qm::update {

// How long a connect may take before the next address of the server is tried.
inline constexpr std::chrono::seconds kAttemptLimit{5};

class UpdateConnection final : public net::FrameSink {
  public:
    // `lookup` resolves server names (on a thread of its own); the system's resolver unless a test
    // brings its own.
    UpdateConnection(net::EventLoop& loop, net::SocketLayer& layer, UpdateSession& session,
                     net::HostResolver::Lookup lookup = net::LookUpEndpoints);
    ~UpdateConnection() override { session_.SetEarlySend(nullptr); }
    UpdateConnection(UpdateConnection const&) = delete;
    UpdateConnection& operator=(UpdateConnection const&) = delete;

    // How long the server may stay silent while the updater waits for it (zero: for ever); the
    // clock restarts at every byte received and every message sent. While the session waits for
    // the update server's announcement, its own no-response timer rules instead.
    void SetStallLimit(std::chrono::seconds limit) { stallLimit_ = limit; }

    // Fills the read, write, close and connect slots of the layer's table with this
    // connection's handlers.
    void InstallHandlers();

    // Starts a connect to `host`, port 34005: an address written as such is used at once; a name
    // is looked up without holding up the loop, and every address it resolves to, IPv6 and IPv4,
    // is tried in turn. 0 when the connect is under way (its end, or a name that cannot be
    // resolved, arrives as an event of the session); -1 when it cannot be started.
    int Connect(std::string const& host);

    // The link holds a connection that passed its WELCOME.
    bool linked() const { return link_.connected; }
    // Ends the link's connection and clears it (ResetLink).
    void ResetLink();
    // Ends whatever there is of a connection (the link, a connect under way) and its timers, so
    // that Connect can start afresh.
    void Disconnect();

    void OnSocketSecuring(net::SocketHandle socket);
    void OnSocketConnected(net::SocketHandle socket, int error);
    void OnSocketRead(net::SocketHandle socket, std::span<const std::uint8_t> bytes);
    void OnSocketWritable(net::SocketHandle socket);
    void OnSocketClosed(net::SocketHandle socket);

    // Frames from the reassembly: the first one of a connection is its WELCOME.
    void OnFrame(net::ClientLink& link, std::span<const std::uint8_t> frame) override;
    void OnFrameError(net::ClientLink& link, unsigned length) override;

  private:
    void OnResolved(std::vector<net::Endpoint> endpoints);
    // Starts a connect to the next address; false when none is left that could be started.
    bool ConnectToNextAddress();
    void GiveUpAttempt();
    // Sends every frame the session has left; a send that fails is a lost link.
    void SendPending();
    // The same from inside the session's handling of a frame.
    void SendEarly();
    // False when the link was lost.
    bool SendOutgoing();
    void RestartStallClock();

    net::SocketLayer& layer_;
    UpdateSession& session_;
    net::ClientLink link_;
    std::string host_;
    net::SocketHandle pendingSocket_;  // the connect under way, until its first read
    bool lostWhileHandling_ = false;
    net::HostResolver resolver_;
    std::vector<net::Endpoint> addresses_;  // of the server, tried in turn
    std::size_t nextAddress_ = 0;
    net::Timer attemptLimit_;  // for an address that is not the last
    std::chrono::seconds stallLimit_{0};
    net::IdleTimer stallClock_;
};

}  // namespace qm::update
