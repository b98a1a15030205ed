// One accepted connection: its frame reassembly, its conversation and the bytes it still owes
// the client. The socket itself is opened and closed by the server.
#pragma once

#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "net/client_link.h"
#include "net/frame.h"
#include "net/outbox.h"
#include "update_server/client_conversation.h"
#include "update_server/server_log.h"

namespace qm::server {

class ClientConnection final : public net::FrameSink {
  public:
    // `peer` names the client in the log; a quiet connection (a health check) logs nothing.
    // `capabilities` are those the server announces (update::capability).
    ClientConnection(net::SocketHandle socket, Addressing replies, CatalogShelf const& shelf,
                     ServerLog& log, std::string const& peer, bool quiet,
                     std::uint32_t capabilities);

    net::SocketHandle socket() const { return socket_; }
    net::Outbox& outbox() { return outbox_; }
    // Set once the conversation decided to end; later frames are not looked at.
    bool hungUp() const { return hungUp_; }
    // Long answers (streams, entries) wait to be written as the connection has room.
    bool HasMoreToSend() const { return !hungUp_ && conversation_.HasMoreToSend(); }
    // Writes more of them, up to `bound` bytes waiting in the outbox; false when that hung up.
    bool Produce(std::size_t bound);
    bool loggedIn() const { return conversation_.loggedIn(); }
    bool quiet() const { return log_.quiet(); }
    // Whether the server has stopped reading from this client until its answers have gone.
    bool readsHeld() const { return readsHeld_; }
    void HoldReads(bool held) { readsHeld_ = held; }

    // Logs the connect and queues the WELCOME.
    void Open();
    // Feeds received bytes to the reassembly; every whole frame goes to the conversation.
    void Receive(std::span<const std::uint8_t> bytes);
    // Logs the end of the connection, with `how` and the time since the connect.
    void LogClose(std::string_view how);
    // The same line, for a log of the caller's choice.
    std::string CloseLine(std::string_view how) const;

    void OnFrame(net::ClientLink& link, std::span<const std::uint8_t> frame) override;
    void OnFrameError(net::ClientLink& link, unsigned length) override;

  private:
    std::string ClosedText(std::string_view how) const;

    net::SocketHandle socket_;
    std::chrono::steady_clock::time_point openedAt_;
    ClientLog log_;
    net::Outbox outbox_;
    ClientConversation conversation_;
    net::ClientLink link_;  // used for its reassembly state only
    bool hungUp_ = false;
    bool readsHeld_ = false;
};

}  // namespace qm::server
