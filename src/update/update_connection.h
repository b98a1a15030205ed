// The socket side of an update run: starts the connect, binds the client link to the new socket
// with the WELCOME handshake, feeds the received bytes through the frame reassembly into the
// update session, and sends what the session leaves to be sent. Every socket event becomes an
// event of the session; a send that fails is one of them.
#pragma once

#include <chrono>
#include <span>
#include <string>

#include "net/client_link.h"
#include "net/frame.h"
#include "net/portwell.h"
#include "net/timer.h"
#include "update/update_session.h"

namespace qm::update {

class UpdateConnection final : public net::FrameSink {
  public:
    UpdateConnection(net::EventLoop& loop, net::SocketLayer& layer, UpdateSession& session);

    // How long the server may stay silent while the updater waits for it (zero: for ever); the
    // clock restarts at every byte received and every message sent. While the session waits for
    // the update server's announcement, its own no-response timer rules instead.
    void SetStallLimit(std::chrono::seconds limit) { stallLimit_ = limit; }

    // Fills the read, write, close and connect slots of the layer's table with this
    // connection's handlers.
    void InstallHandlers();

    // Starts a connect to `host`, port 34005. The socket, or -1 when the connect cannot be
    // started; its end arrives at OnSocketConnected.
    int Connect(std::string const& host);

    // The link holds a connection that passed its WELCOME.
    bool linked() const { return link_.connected; }
    // Ends the link's connection and clears it (ResetLink).
    void ResetLink();

    void OnSocketConnected(int socket, int error);
    void OnSocketRead(int socket, std::span<const std::uint8_t> bytes);
    void OnSocketWritable(int socket);
    void OnSocketClosed(int socket);

    // Frames from the reassembly: the first one of a connection is its WELCOME.
    void OnFrame(net::ClientLink& link, std::span<const std::uint8_t> frame) override;
    void OnFrameError(net::ClientLink& link, unsigned length) override;

  private:
    // Sends every frame the session has left; a send that fails is a lost link.
    void SendPending();
    void RestartStallClock();

    net::SocketLayer& layer_;
    UpdateSession& session_;
    net::ClientLink link_;
    std::string host_;
    int pendingSocket_ = -1;  // the connect under way, until its first read
    std::chrono::seconds stallLimit_{0};
    net::Timer stallClock_;
};

}  // namespace qm::update
