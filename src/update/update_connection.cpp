#include "update/update_connection.h"

#include <utility>

#include "net/welcome.h"

namespace qm::update {

UpdateConnection::UpdateConnection(net::EventLoop& loop, net::SocketLayer& layer,
                                   UpdateSession& session, net::HostResolver::Lookup lookup)
    : layer_(layer),
      session_(session),
      resolver_(loop, std::move(lookup)),
      attemptLimit_(loop),
      stallClock_(loop) {
    session_.SetEarlySend([this] { SendEarly(); });
}

void UpdateConnection::InstallHandlers() {
    net::SocketEventTable& table = layer_.table();
    table.onRead = [this](net::SocketHandle socket, std::span<const std::uint8_t> bytes) {
        OnSocketRead(socket, bytes);
    };
    table.onWrite = [this](net::SocketHandle socket) { OnSocketWritable(socket); };
    table.onClose = [this](net::SocketHandle socket) { OnSocketClosed(socket); };
    table.onConnect = [this](net::SocketHandle socket, int error) {
        OnSocketConnected(socket, error);
    };
    table.onSecuring = [this](net::SocketHandle socket) { OnSocketSecuring(socket); };
}

int UpdateConnection::Connect(std::string const& host) {
    host_ = host;
    RestartStallClock();
    if (std::optional<net::Endpoint> const written = net::LiteralEndpoint(host, kServerPort)) {
        addresses_ = {*written};
        nextAddress_ = 0;
        return ConnectToNextAddress() ? 0 : -1;
    }
    resolver_.Resolve(host, kServerPort,
                      [this](std::vector<net::Endpoint> found) { OnResolved(std::move(found)); });
    return 0;
}

void UpdateConnection::OnResolved(std::vector<net::Endpoint> endpoints) {
    addresses_ = std::move(endpoints);
    nextAddress_ = 0;
    if (!ConnectToNextAddress()) {
        session_.OnUnreachable();
    }
}

bool UpdateConnection::ConnectToNextAddress() {
    while (nextAddress_ < addresses_.size()) {
        pendingSocket_ = layer_.AsyncConnectTo(addresses_[nextAddress_++]);
        if (!pendingSocket_.valid()) {
            continue;
        }
        // An address that does not answer must not keep the others from being tried.
        if (nextAddress_ < addresses_.size()) {
            attemptLimit_.Start(kAttemptLimit, [this] { GiveUpAttempt(); });
        }
        return true;
    }
    return false;
}

void UpdateConnection::GiveUpAttempt() {
    layer_.CloseSocket(pendingSocket_);
    pendingSocket_ = net::kNoSocket;
    if (!ConnectToNextAddress()) {
        session_.OnConnectFailed();
    }
}

void UpdateConnection::ResetLink() {
    net::ResetLink(link_, layer_);
}

void UpdateConnection::Disconnect() {
    ResetLink();
    if (pendingSocket_.valid()) {
        layer_.CloseSocket(std::exchange(pendingSocket_, net::kNoSocket));
    }
    attemptLimit_.Stop();
    stallClock_.Stop();
    lostWhileHandling_ = false;
}

void UpdateConnection::OnSocketSecuring(net::SocketHandle socket) {
    // The handshake has a limit of its own; the stall clock starts again once it has ended.
    if (socket == pendingSocket_) {
        stallClock_.Stop();
    }
}

void UpdateConnection::OnSocketConnected(net::SocketHandle socket, int error) {
    if (socket != pendingSocket_) {
        return;
    }
    attemptLimit_.Stop();
    if (error == 0 && !stallClock_.running()) {
        RestartStallClock();  // after a secure handshake
    }
    if (error == net::kServerNotVerified) {
        // Never on to another address: whoever answered there did not prove to be the server.
        layer_.CloseSocket(socket);
        pendingSocket_ = net::kNoSocket;
        return session_.OnServerNotVerified();
    }
    if (error != 0) {
        layer_.CloseSocket(socket);
        pendingSocket_ = net::kNoSocket;
        if (!ConnectToNextAddress()) {
            session_.OnConnectFailed();
        }
        return;
    }
    session_.OnConnected();
    if (layer_.AsyncReceive(socket) != 0) {
        pendingSocket_ = net::kNoSocket;
        session_.OnReceiveFailed();
    }
}

void UpdateConnection::OnSocketRead(net::SocketHandle socket, std::span<const std::uint8_t> bytes) {
    RestartStallClock();
    if (socket.valid() && socket == pendingSocket_) {
        pendingSocket_ = net::kNoSocket;
        if (net::HandleWelcome(link_, layer_, socket, host_, kServerPort) != 0) {
            session_.OnDialUpFailed();
        } else {
            session_.OnHandshakeBegun();
        }
    }
    if (socket.valid() && socket == link_.socket) {
        net::Windows_Client_ManageDatas(link_, *this, bytes);
    }
}

void UpdateConnection::OnSocketWritable(net::SocketHandle socket) {
    if (socket.valid() && socket == link_.socket && link_.outbox.pending() > 0) {
        std::size_t const owed = link_.outbox.pending();
        if (net::FlushLink(link_, layer_) == -1) {
            return session_.OnLinkLost();
        }
        // Only bytes that went out are activity: a writable socket that took nothing is not.
        if (link_.outbox.pending() < owed) {
            RestartStallClock();
        }
    }
}

void UpdateConnection::OnSocketClosed(net::SocketHandle socket) {
    if (socket.valid() && socket == link_.socket) {
        ResetLink();
    } else if (socket.valid() && socket == pendingSocket_) {
        // Closed after the connect but before any data: without an ending the window would wait
        // on "connection succesfull" for ever.
        pendingSocket_ = net::kNoSocket;
        layer_.CloseSocket(socket);
    } else {
        return;
    }
    session_.OnLinkLost();
}

void UpdateConnection::OnFrame(net::ClientLink& link, std::span<const std::uint8_t> frame) {
    if (link.awaitingWelcome) {
        bool const accepted = net::AcceptWelcome(link, layer_, frame, host_);
        session_.OnWelcome(LinkIds{link.from_me, link.peerId, accepted});
        SendPending();
    }
    if (link.connected) {
        session_.HandleMessage(frame);
        if (std::exchange(lostWhileHandling_, false)) {
            return session_.OnLinkLost();
        }
        SendPending();
    }
}

void UpdateConnection::OnFrameError(net::ClientLink& link, unsigned length) {
    net::ResetLink(link, layer_);
    session_.OnFrameError(length);
}

void UpdateConnection::SendPending() {
    if (!SendOutgoing()) {
        session_.OnLinkLost();
    }
}

void UpdateConnection::SendEarly() {
    // The session is in the middle of a frame: a lost link is told once it is done with it.
    if (!SendOutgoing()) {
        lostWhileHandling_ = true;
    }
}

bool UpdateConnection::SendOutgoing() {
    // What the socket does not take now goes out when it is writable again; a send that fails
    // leaves the link reset and the connection gone.
    if (session_.outgoing().empty()) {
        return true;
    }
    bool const lost = net::LinkSend(link_, layer_, session_.outgoing()) == -1;
    session_.ClearOutgoing();
    if (lost) {
        return false;
    }
    RestartStallClock();
    return true;
}

void UpdateConnection::RestartStallClock() {
    if (stallLimit_.count() == 0 || session_.awaitingAnnouncement()) {
        stallClock_.Stop();
        return;
    }
    if (stallClock_.running()) {
        return stallClock_.Touch();
    }
    stallClock_.Start(stallLimit_, [this] { session_.OnStalled(); });
}

}  // namespace qm::update
