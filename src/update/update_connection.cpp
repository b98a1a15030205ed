#include "update/update_connection.h"

#include "net/welcome.h"

namespace qm::update {

UpdateConnection::UpdateConnection(net::EventLoop& loop, net::SocketLayer& layer,
                                   UpdateSession& session)
    : layer_(layer), session_(session), stallClock_(loop) {}

void UpdateConnection::InstallHandlers() {
    net::SocketEventTable& table = layer_.table();
    table.onRead = [this](int socket, std::span<const std::uint8_t> bytes) {
        OnSocketRead(socket, bytes);
    };
    table.onWrite = [this](int socket) { OnSocketWritable(socket); };
    table.onClose = [this](int socket) { OnSocketClosed(socket); };
    table.onConnect = [this](int socket, int error) { OnSocketConnected(socket, error); };
}

int UpdateConnection::Connect(std::string const& host) {
    host_ = host;
    pendingSocket_ = layer_.AsyncConnect(host, kServerPort);
    if (pendingSocket_ != -1) {
        RestartStallClock();
    }
    return pendingSocket_;
}

void UpdateConnection::ResetLink() {
    net::ResetLink(link_, layer_);
}

void UpdateConnection::OnSocketConnected(int socket, int error) {
    if (socket != pendingSocket_) {
        return;
    }
    if (error != 0) {
        pendingSocket_ = -1;
        session_.OnConnectFailed();
        return;
    }
    session_.OnConnected();
    if (layer_.AsyncReceive(socket) != 0) {
        pendingSocket_ = -1;
        session_.OnReceiveFailed();
    }
}

void UpdateConnection::OnSocketRead(int socket, std::span<const std::uint8_t> bytes) {
    RestartStallClock();
    if (socket != -1 && socket == pendingSocket_) {
        pendingSocket_ = -1;
        if (net::HandleWelcome(link_, layer_, socket, host_, kServerPort) != 0) {
            session_.OnDialUpFailed();
        } else {
            session_.OnHandshakeBegun();
        }
    }
    if (socket != -1 && socket == link_.socket) {
        net::Windows_Client_ManageDatas(link_, *this, bytes);
    }
}

void UpdateConnection::OnSocketWritable(int socket) {
    if (socket != -1 && socket == link_.socket && link_.outbox.pending() > 0) {
        if (net::FlushLink(link_, layer_) == -1) {
            return session_.OnLinkLost();
        }
        RestartStallClock();
    }
}

void UpdateConnection::OnSocketClosed(int socket) {
    if (socket != -1 && socket == link_.socket) {
        ResetLink();
    } else if (socket != -1 && socket == pendingSocket_) {
        // Closed after the connect but before any data: without an ending the window would wait
        // on "connection succesfull" for ever.
        pendingSocket_ = -1;
        layer_.CloseSocket(socket);
    } else {
        return;
    }
    session_.OnLinkLost();
}

void UpdateConnection::OnFrame(net::ClientLink& link, std::span<const std::uint8_t> frame) {
    if (link.awaitingWelcome) {
        net::AcceptWelcome(link, layer_, frame, host_);
        session_.OnWelcome(LinkIds{link.from_me, link.peerId});
        SendPending();
    }
    if (link.connected) {
        session_.HandleMessage(frame);
        SendPending();
    }
}

void UpdateConnection::OnFrameError(net::ClientLink& link, unsigned length) {
    net::ResetLink(link, layer_);
    session_.OnFrameError(length);
}

void UpdateConnection::SendPending() {
    // What the socket does not take now goes out when it is writable again; a send that fails
    // leaves the link reset and the connection gone.
    if (session_.outgoing().empty()) {
        return;
    }
    bool const lost = net::LinkSend(link_, layer_, session_.outgoing()) == -1;
    session_.ClearOutgoing();
    if (lost) {
        return session_.OnLinkLost();
    }
    RestartStallClock();
}

void UpdateConnection::RestartStallClock() {
    if (stallLimit_.count() == 0 || session_.awaitingAnnouncement()) {
        stallClock_.Stop();
        return;
    }
    stallClock_.Start(stallLimit_, [this] { session_.OnStalled(); });
}

}  // namespace qm::update
