#include "update_server/update_server.h"

#include <cerrno>
#include <cstring>

#include "net/endpoint.h"
#include "net/socket_calls.h"
#include "net/unix/host_address.h"
#include "update_server/proxy_header.h"
#include "update_server/wording.h"

namespace qm::server {
namespace {

std::string SecondsText(std::chrono::seconds seconds) {
    return std::to_string(seconds.count()) + " s";
}

}  // namespace

UpdateServer::UpdateServer(net::EventLoop& loop, CatalogShelf const& shelf, ServerLog& log,
                           ServerLimits const& limits, ServingRules rules)
    : loop_(loop),
      shelf_(shelf),
      log_(log),
      limitLog_(log, loop),
      limits_(limits),
      rules_(rules),
      layer_(loop),
      census_(limits.maxClients, limits.maxPerAddress),
      drainLimit_(loop) {
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
    table.onHandshakeFailed = [this](net::SocketHandle socket) { OnHandshakeFailed(socket); };
    layer_.ScreenAccepts([this](net::SocketHandle socket, net::SocketHandle listening, int error) {
        OnAccepted(socket, listening, error);
    });
}

UpdateServer::~UpdateServer() {
    for (auto& [socket, client] : clients_) {
        if (client.connection) {
            client.connection->LogClose("server stopping");
        }
        layer_.CloseSocket(socket);
    }
    for (net::SocketHandle listening : listening_) {
        layer_.CloseSocket(listening);
    }
}

std::optional<std::string> UpdateServer::Listen(std::string const& address) {
    std::optional<net::Endpoint> const literal = net::LiteralEndpoint(address, kServerPort);
    std::string const where =
        literal ? literal->Describe() : address + ":" + std::to_string(kServerPort);
    if (!literal && !net::ResolveHostAddress(address)) {
        return "cannot listen on " + where + ": not an IPv4 or IPv6 address or known host name";
    }
    errno = 0;
    net::SocketHandle const listening = layer_.AsyncListen(address, kServerPort);
    if (!listening.valid()) {
        return "cannot listen on " + where + ": " +
               (errno != 0 ? std::strerror(errno) : "unknown error");
    }
    listening_.push_back(listening);
    log_.Note("listening on " + where);
    return std::nullopt;
}

void UpdateServer::Drain(std::chrono::seconds limit, std::function<void()> finished) {
    draining_ = true;
    for (net::SocketHandle listening : listening_) {
        layer_.CloseSocket(listening);
    }
    listening_.clear();
    std::vector<net::SocketHandle> waiting;
    for (auto const& [socket, client] : clients_) {
        if (!client.connection || !client.connection->loggedIn()) {
            waiting.push_back(socket);
        }
    }
    for (net::SocketHandle socket : waiting) {
        Close(socket, "the server is stopping", true);
    }
    if (clients_.empty()) {
        return finished();
    }
    log_.Note("draining: " + Counted(clients_.size(), "client") +
              " in the middle of a run; stopping once they are done, at the latest in " +
              SecondsText(limit));
    drained_ = std::move(finished);
    drainLimit_.Start(limit, [this] {
        log_.Note("drain limit reached: " + Counted(clients_.size(), "client") + " cut off");
        std::exchange(drained_, nullptr)();
    });
}

void UpdateServer::OnAccepted(net::SocketHandle socket, net::SocketHandle listening, int error) {
    if (!socket.valid()) {
        limitLog_.Note("cannot accept connections: " + std::string(std::strerror(error)) +
                       "; listening again in " + std::to_string(net::kAcceptRest.count()) + " ms");
        return;
    }
    std::optional<PeerAddress> const tcpPeer = SocketPeer(socket);
    std::string const from = tcpPeer ? tcpPeer->Describe() : "unknown peer";
    std::string const full = Counted(census_.maxClients(), "client") + ", the most at once";
    if (draining_ ||
        !MakeRoom(census_.ForConnection(), "refused a connection from " + from + ": " + full,
                  "to make room for a new connection: " + full)) {
        layer_.CloseSocket(socket);
        return;
    }
    census_.Add(socket);
    Client& client = clients_.try_emplace(socket, loop_, listening).first->second;
    client.login.Start(limits_.loginLimit, [this, socket] {
        Close(socket, "no login within " + SecondsText(limits_.loginLimit), true);
    });
    if (rules_.proxyProtocol) {
        loop_.Watch(socket, net::EventLoop::Interest::Readable,
                    [this, socket] { ReadProxyHeader(socket); });
        return;
    }
    if (!tcpPeer) {
        return Close(socket, "the peer is gone", true);
    }
    Place(socket, *tcpPeer);
}

// Reads the header, and nothing past it: what follows belongs to the TLS handshake or the
// conversation.
void UpdateServer::ReadProxyHeader(net::SocketHandle socket) {
    Client* client = Find(socket);
    if (client == nullptr) {
        return;
    }
    std::vector<std::uint8_t>& header = client->header;
    for (;;) {
        std::size_t wanted = kProxyHeaderStart;
        if (header.size() >= kProxyHeaderStart) {
            Outcome<std::size_t> const length = ProxyHeaderLength(header);
            if (!length.ok()) {
                return Close(socket, length.reason(), true);
            }
            wanted = length.value();
        }
        if (header.size() == wanted) {
            break;
        }
        std::size_t const before = header.size();
        header.resize(wanted);
        long const got =
            net::sockets::Receive(socket, std::span(header).subspan(before, wanted - before));
        int const error = got < 0 ? net::sockets::LastError() : 0;
        header.resize(before + static_cast<std::size_t>(std::max(got, 0L)));
        if (net::sockets::WouldBlock(error) || net::sockets::Interrupted(error)) {
            return;  // the rest comes later
        }
        if (got <= 0) {
            return Close(socket, "gone before its PROXY protocol header was complete", true);
        }
    }
    Outcome<ProxyHeader> const parsed = ParseProxyHeader(header);
    if (!parsed.ok()) {
        return Close(socket, parsed.reason(), true);
    }
    loop_.Unwatch(socket, net::EventLoop::Interest::Readable);
    std::vector<std::uint8_t>().swap(header);
    client->healthCheck = parsed.value().local;
    std::optional<PeerAddress> const peer =
        parsed.value().source ? parsed.value().source : SocketPeer(socket);
    if (!peer) {
        return Close(socket, "the peer is gone", true);
    }
    Place(socket, *peer);
}

// A client on this machine (a local balancer's health check, the publisher's own tests) is not
// limited per address: it could take the machine's resources without the server anyway.
void UpdateServer::Place(net::SocketHandle socket, PeerAddress const& peer) {
    Client& client = clients_.at(socket);
    client.peer = peer;
    if (peer.IsLoopback()) {
        return layer_.Admit(socket, client.listening);
    }
    std::string const full = Counted(census_.maxPerAddress(), "client") + " from " + peer.host +
                             ", the most from one address";
    if (!MakeRoom(census_.ForAddress(peer.host, socket),
                  "refused a connection from " + peer.Describe() + ": " + full,
                  "to make room for a new connection: " + full)) {
        layer_.CloseSocket(socket);
        return Forget(socket);
    }
    census_.SetAddress(socket, peer.host);
    layer_.Admit(socket, client.listening);
}

bool UpdateServer::MakeRoom(ClientCensus::Room const& room, std::string const& refusal,
                            std::string const& eviction) {
    switch (room.verdict) {
        case ClientCensus::Room::Verdict::Free:
            return true;
        case ClientCensus::Room::Verdict::MadeByClosing:
            Close(room.victim, eviction, true);
            return true;
        case ClientCensus::Room::Verdict::None:
            limitLog_.Note(refusal);
            return false;
    }
    return false;
}

void UpdateServer::OnAccept(net::SocketHandle socket) {
    Client* client = Find(socket);
    if (client == nullptr) {
        layer_.CloseSocket(socket);
        return;
    }
    if (layer_.AsyncReceive(socket) != 0) {
        return Forget(socket);  // closed by the layer
    }
    Addressing const replies{kServerId, nextClientId_++};
    client->connection = std::make_unique<ClientConnection>(
        socket, replies, shelf_, log_, PeerText(socket, *client), client->healthCheck,
        rules_.fastPath ? update::capability::kFastPath : 0);
    client->stall = std::make_unique<ReadStallWatch>(
        loop_, socket, client->connection->outbox(), limits_.idleLimit, [this, socket] {
            Close(socket, "took nothing of what it was sent for " + SecondsText(limits_.idleLimit),
                  true);
        });
    client->connection->Open();
    Flush(*client);
}

void UpdateServer::OnRead(net::SocketHandle socket, std::span<const std::uint8_t> bytes) {
    Client* client = Find(socket);
    if (client == nullptr || !client->connection) {
        return;
    }
    ClientConnection& connection = *client->connection;
    connection.Receive(bytes);
    if (client->login.running() && connection.loggedIn()) {
        client->login.Stop();
        census_.LoggedIn(socket);
    }
    if (connection.hungUp()) {
        return Close(socket, "hung up by the server", false);
    }
    Flush(*client);
}

void UpdateServer::OnWrite(net::SocketHandle socket) {
    if (Client* client = Find(socket); client != nullptr && client->connection) {
        Flush(*client);
    }
}

void UpdateServer::OnClose(net::SocketHandle socket) {
    Close(socket, "by the client", false);
}

void UpdateServer::OnHandshakeFailed(net::SocketHandle socket) {
    if (Client* client = Find(socket)) {
        limitLog_.Note("TLS handshake with " + PeerText(socket, *client) +
                       " failed; connection closed");
    }
    Forget(socket);  // the layer closes the socket
}

// Answers go out in the order their requests came. A client whose answers pile up unread is not
// read from until they have gone (TCP then holds it back); one that takes none of them for the
// idle limit is closed.
void UpdateServer::Flush(Client& client) {
    ClientConnection& connection = *client.connection;
    net::SocketHandle const socket = connection.socket();
    net::Outbox& outbox = connection.outbox();
    // Long answers are written as the socket takes them: produced up to the bound, sent, and
    // produced again while the socket takes everything; else the socket's next writability
    // brings the next Flush.
    for (;;) {
        if (connection.HasMoreToSend() && outbox.pending() < kPendingBytesBeforeHold &&
            !connection.Produce(kPendingBytesBeforeHold)) {
            return Close(socket, "hung up by the server", false);
        }
        std::size_t const before = outbox.pending();
        if (outbox.SendTo(layer_, socket) == net::Outbox::Flush::Failed) {
            return Close(socket, "send failed: " + std::string(std::strerror(errno)), false);
        }
        if (before > 0) {
            client.stall->Sent(before - outbox.pending());
        }
        if (outbox.pending() > 0 || !connection.HasMoreToSend()) {
            break;
        }
    }
    bool const full = connection.outbox().pending() > kPendingBytesBeforeHold;
    if (full != connection.readsHeld()) {
        layer_.HoldReads(socket, full);
        connection.HoldReads(full);
    }
}

void UpdateServer::Close(net::SocketHandle socket, std::string_view how, bool limitEvent) {
    Client* client = Find(socket);
    if (client == nullptr) {
        return;
    }
    if (!client->healthCheck) {
        std::string line = client->connection
                               ? client->connection->CloseLine(how)
                               : Describe(socket, *client) + " closed (" + std::string(how) + ")";
        if (limitEvent) {
            limitLog_.Note(std::move(line));
        } else {
            log_.Note(line);
        }
    }
    layer_.CloseSocket(socket);
    Forget(socket);
}

void UpdateServer::Forget(net::SocketHandle socket) {
    census_.Remove(socket);
    clients_.erase(socket);
    if (drained_ && clients_.empty()) {
        log_.Note("all clients done");
        drainLimit_.Stop();
        std::exchange(drained_, nullptr)();
    }
}

std::string UpdateServer::PeerText(net::SocketHandle socket, Client const& client) const {
    return client.peer ? client.peer->Describe() : PeerOf(socket);
}

std::string UpdateServer::Describe(net::SocketHandle socket, Client const& client) const {
    return "connection from " + PeerText(socket, client);
}

UpdateServer::Client* UpdateServer::Find(net::SocketHandle socket) {
    auto const found = clients_.find(socket);
    return found == clients_.end() ? nullptr : &found->second;
}

}  // namespace qm::server
