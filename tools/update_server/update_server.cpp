#include "update_server/update_server.h"

#include <cerrno>
#include <cstring>

#include "net/unix/host_address.h"

namespace qm::server {

UpdateServer::UpdateServer(net::EventLoop& loop, CatalogShelf const& shelf, ServerLog& log)
    : shelf_(shelf), log_(log), layer_(loop) {
    layer_.SocketStartup();
    net::SocketEventTable& table = layer_.table();
    table.onAccept = [this](net::SocketHandle socket, net::SocketHandle /*listening*/) {
        OnAccept(socket);
    };
    table.onRead = [this](net::SocketHandle socket, std::span<const std::uint8_t> bytes) {
        OnRead(socket, bytes);
    };
    table.onWrite = [this](net::SocketHandle socket) { OnWrite(socket); };
    table.onClose = [this](net::SocketHandle socket) { OnClose(socket); };
    table.onHandshakeFailed = [this](net::SocketHandle socket) {
        log_.Note("TLS handshake with " + PeerOf(socket) + " failed; connection closed");
    };
}

UpdateServer::~UpdateServer() {
    for (auto& [socket, connection] : connections_) {
        connection->LogClose("server stopping");
        layer_.CloseSocket(socket);
    }
    if (listeningSocket_.valid()) {
        layer_.CloseSocket(listeningSocket_);
    }
}

std::optional<std::string> UpdateServer::Listen(std::string const& address) {
    std::string const where = address + ":" + std::to_string(kServerPort);
    if (!net::ResolveHostAddress(address)) {
        return "cannot listen on " + where + ": not an IPv4 address or known host name";
    }
    errno = 0;
    listeningSocket_ = layer_.AsyncListen(address, kServerPort);
    if (!listeningSocket_.valid()) {
        return "cannot listen on " + where + ": " +
               (errno != 0 ? std::strerror(errno) : "unknown error");
    }
    log_.Note("listening on " + where);
    return std::nullopt;
}

void UpdateServer::OnAccept(net::SocketHandle socket) {
    if (layer_.AsyncReceive(socket) != 0) {
        return;  // closed by the layer
    }
    Addressing const replies{kServerId, nextClientId_++};
    auto connection = std::make_unique<ClientConnection>(socket, replies, shelf_, log_);
    ClientConnection& opened = *connection;
    connections_[socket] = std::move(connection);
    opened.Open();
    Flush(opened);
}

void UpdateServer::OnRead(net::SocketHandle socket, std::span<const std::uint8_t> bytes) {
    ClientConnection* connection = Find(socket);
    if (connection == nullptr) {
        return;
    }
    connection->Receive(bytes);
    if (connection->hungUp()) {
        return Drop(*connection, "hung up by the server");
    }
    Flush(*connection);
}

void UpdateServer::OnWrite(net::SocketHandle socket) {
    if (ClientConnection* connection = Find(socket)) {
        Flush(*connection);
    }
}

void UpdateServer::OnClose(net::SocketHandle socket) {
    if (ClientConnection* connection = Find(socket)) {
        Drop(*connection, "by the client");
    }
}

// Answers go out in the order their requests came. A client whose answers pile up unread is not
// read from until they have gone (TCP then holds it back); it is never dropped for that.
void UpdateServer::Flush(ClientConnection& connection) {
    if (connection.outbox().SendTo(layer_, connection.socket()) == net::Outbox::Flush::Failed) {
        return Drop(connection, "send failed: " + std::string(std::strerror(errno)));
    }
    bool const full = connection.outbox().pending() > kPendingBytesBeforeHold;
    if (full != connection.readsHeld()) {
        layer_.HoldReads(connection.socket(), full);
        connection.HoldReads(full);
    }
}

void UpdateServer::Drop(ClientConnection& connection, std::string_view how) {
    net::SocketHandle const socket = connection.socket();
    connection.LogClose(how);
    layer_.CloseSocket(socket);
    connections_.erase(socket);
}

ClientConnection* UpdateServer::Find(net::SocketHandle socket) {
    auto const found = connections_.find(socket);
    return found == connections_.end() ? nullptr : found->second.get();
}

}  // namespace qm::server
