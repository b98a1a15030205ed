// Dispatch rules of DispatchSocketEvent. The event code is the low 16 bits of the parameter, the
// error code the high 16 bits. The message is compared with the connect, the accept and the read
// message in this order; the first match decides:
//
//   connect  event not FD_CONNECT          nothing                                        1
//   connect  FD_CONNECT, error             stop watching the socket, onConnect(s, error)  1
//   connect  FD_CONNECT, no error          onConnect(s, 0)                                1
//   accept   error                         nothing                                        1
//   accept   no error (any event)          accept; onAccept(new, s), else onClose(new),
//                                          else close the new socket                      1
//   read     FD_READ                       one recv of at most 2048 bytes (ReadOnce)      1
//   read     FD_WRITE                      onWrite(s)                                     1
//   read     FD_CLOSE                      onClose(s), else close the socket              1
//   read     any other event               nothing                                        0
//   any other message                      nothing                                        0
//
// Empty callback slots are skipped. The notifications themselves come from the event loop: the
// layer watches its sockets and dispatches to itself when one is ready. An owner that screens
// accepts (ScreenAccepts) sees the new socket before the onAccept / onClose / close step, which
// then follows its Admit; an accept that fails for lack of descriptors or memory rests the
// listening socket for kAcceptRest.
#include "net/portwell.h"

#include <utility>

#include "net/socket_calls.h"

namespace qm::net {

namespace {

// Numbers of the three notification kinds, clear of the small numbers a front end uses for its
// own messages.
constexpr std::uint32_t kFirstMessageId = 0xC000;

constexpr std::uint32_t EventCode(std::uint32_t parameter) {
    return parameter & 0xFFFFu;
}
constexpr std::uint32_t ErrorCode(std::uint32_t parameter) {
    return parameter >> 16;
}

}  // namespace

SocketLayer::SocketLayer(EventLoop& loop) : loop_(loop) {}

SocketLayer::~SocketLayer() {
    // The sockets belong to their owners; the layer only stops watching them.
    for (auto const& [socket, selection] : selections_) {
        loop_.Forget(socket);
    }
}

int SocketLayer::SocketStartup() {
    if (!sockets::Startup()) {
        return -1;
    }
    table_.readMessageId = kFirstMessageId + 1;
    table_.acceptMessageId = kFirstMessageId + 2;
    table_.connectMessageId = kFirstMessageId + 3;
    return 0;
}

SocketHandle SocketLayer::AsyncConnect(std::string const& host, std::uint16_t port) {
    std::optional<Endpoint> const endpoint = FirstIpv4Endpoint(host, port);
    return endpoint ? AsyncConnectTo(*endpoint) : kNoSocket;
}

SocketHandle SocketLayer::AsyncConnectTo(Endpoint const& endpoint) {
    SocketHandle const socket = sockets::OpenConnecting(endpoint);
    if (!socket.valid()) {
        return kNoSocket;
    }
    // Watch before connecting, so that the end of the connect cannot be missed.
    SelectConnect(socket);
    if (sockets::StartConnect(socket, endpoint) != 0) {
        Deselect(socket);
        sockets::Close(socket);
        return kNoSocket;
    }
    return socket;
}

int SocketLayer::AsyncReceive(SocketHandle socket) {
    if (!sockets::IsOpen(socket)) {
        CloseSocket(socket);
        return -1;
    }
    SelectRead(socket);
    // The handshake may have read the peer's first records along with its last flight; the
    // socket will not report them again.
    if (SecureChannel* channel = ChannelOf(socket); channel != nullptr && channel->HasBuffered()) {
        ReadBufferedSoon(socket);
    }
    return 0;
}

SocketHandle SocketLayer::AsyncListen(std::string const& address, std::uint16_t port) {
    std::optional<Endpoint> local = LiteralEndpoint(address, port);
    if (!local) {
        local = FirstIpv4Endpoint(address, port);
    }
    SocketHandle const socket = local ? sockets::Listen(*local) : kNoSocket;
    if (socket.valid()) {
        SelectAccept(socket);
    }
    return socket;
}

int SocketLayer::DispatchSocketEvent(std::uint32_t message, SocketHandle socket,
                                     std::uint32_t parameter) {
    std::uint32_t const event = EventCode(parameter);
    int const error = static_cast<int>(ErrorCode(parameter));
    if (message == 0) {
        return 0;  // no notification kind is numbered 0
    }
    if (message == table_.connectMessageId) {
        if (event == FD_CONNECT) {
            if (error != 0) {
                Deselect(socket);
            }
            if (table_.onConnect) {
                table_.onConnect(socket, error);
            }
        }
        return 1;
    }
    if (message == table_.acceptMessageId) {
        if (error == 0) {
            Accept(socket);
        }
        return 1;
    }
    if (message != table_.readMessageId) {
        return 0;
    }
    switch (event) {
        case FD_READ:
            ReadOnce(socket);
            return 1;
        case FD_WRITE:
            if (table_.onWrite) {
                table_.onWrite(socket);
            }
            return 1;
        case FD_CLOSE:
            if (table_.onClose) {
                table_.onClose(socket);
            } else {
                CloseSocket(socket);
            }
            return 1;
        default:
            return 0;
    }
}

int SocketLayer::SendAll(SocketHandle socket, std::span<const std::uint8_t> bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        long const result = SendSome(socket, bytes.subspan(sent));
        if (result < 0) {
            return -1;
        }
        if (result == 0) {
            return sent == 0 ? -2 : -1;
        }
        sent += static_cast<std::size_t>(result);
    }
    return 0;
}

long SocketLayer::SendSome(SocketHandle socket, std::span<const std::uint8_t> bytes) {
    if (bytes.empty()) {
        return 0;
    }
    if (SecureChannel* channel = ChannelOf(socket)) {
        SecureChannel::Progress progress = SecureChannel::Progress::Done;
        long const taken = channel->Write(bytes, progress);
        if (taken > 0) {
            return taken;
        }
        if (progress == SecureChannel::Progress::Failed) {
            return -1;
        }
        if (progress == SecureChannel::Progress::WantRead) {
            // The socket is writable all along: watching it would wake every turn until the
            // peer's answer comes. The owner hears of writability after the next read instead.
            protected_[socket].writeAwaitsRead = true;
            return 0;
        }
        WatchWritableOnce(socket);
        return 0;
    }
    for (;;) {
        long const result = sockets::Send(socket, bytes);
        if (result > 0) {
            return result;
        }
        int const error = result < 0 ? sockets::LastError() : 0;
        if (sockets::Interrupted(error)) {
            continue;
        }
        if (result == 0 || !sockets::WouldBlock(error)) {
            return -1;
        }
        // The owner hears of the socket's writability again once it has room.
        if (auto const found = selections_.find(socket);
            found != selections_.end() && found->second == Selection::Read) {
            WatchWritableOnce(socket);
        }
        return 0;
    }
}

void SocketLayer::HoldReads(SocketHandle socket, bool held) {
    auto const found = selections_.find(socket);
    if (found == selections_.end() || found->second != Selection::Read) {
        return;
    }
    if (held) {
        loop_.Unwatch(socket, EventLoop::Interest::Readable);
    } else {
        loop_.Watch(socket, EventLoop::Interest::Readable, [this, socket] { OnReadable(socket); });
    }
}

int SocketLayer::CloseSocket(SocketHandle socket) {
    Deselect(socket);
    protected_.erase(socket);
    resting_.erase(socket);
    return sockets::Close(socket);
}

void SocketLayer::UseTls(std::shared_ptr<SecureChannelFactory> factory, std::string serverName) {
    tls_ = std::move(factory);
    tlsServerName_ = std::move(serverName);
}

SecureChannel* SocketLayer::ChannelOf(SocketHandle socket) {
    auto const found = protected_.find(socket);
    return found == protected_.end() || !found->second.handshaken ? nullptr
                                                                  : found->second.channel.get();
}

void SocketLayer::StartHandshake(SocketHandle socket, SocketHandle listening) {
    Protected& state = protected_[socket];
    state.channel = tls_->Open(socket, listening.valid() ? std::string() : tlsServerName_);
    state.listening = listening;
    state.handshakeLimit = std::make_unique<Timer>(loop_);
    state.bufferedRead = std::make_unique<Timer>(loop_);
    if (!state.channel) {
        return EndHandshake(socket, false);
    }
    state.handshakeLimit->Start(kHandshakeLimit, [this, socket] { EndHandshake(socket, false); });
    selections_[socket] = Selection::Handshake;
    DriveHandshake(socket);
}

void SocketLayer::DriveHandshake(SocketHandle socket) {
    auto const found = protected_.find(socket);
    if (found == protected_.end()) {
        return;
    }
    switch (found->second.channel->Handshake()) {
        case SecureChannel::Progress::Done:
            return EndHandshake(socket, true);
        case SecureChannel::Progress::Failed:
            return EndHandshake(socket, false);
        case SecureChannel::Progress::WantRead:
            loop_.Unwatch(socket, EventLoop::Interest::Writable);
            loop_.Watch(socket, EventLoop::Interest::Readable,
                        [this, socket] { DriveHandshake(socket); });
            return;
        case SecureChannel::Progress::WantWrite:
            loop_.Unwatch(socket, EventLoop::Interest::Readable);
            loop_.Watch(socket, EventLoop::Interest::Writable,
                        [this, socket] { DriveHandshake(socket); });
            return;
    }
}

// A connection made is reported to its owner as connected, or as failed with kServerNotVerified;
// an accepted one is handed to its owner, or closed.
void SocketLayer::EndHandshake(SocketHandle socket, bool done) {
    Protected& state = protected_[socket];
    state.handshakeLimit->Stop();
    SocketHandle const listening = state.listening;
    Deselect(socket);
    if (done) {
        state.handshaken = true;
    } else {
        protected_.erase(socket);
    }
    if (listening.valid()) {
        if (!done) {
            if (table_.onHandshakeFailed) {
                table_.onHandshakeFailed(socket);
            }
            sockets::Close(socket);
        } else if (table_.onAccept) {
            table_.onAccept(socket, listening);
        } else {
            CloseSocket(socket);
        }
        return;
    }
    if (done) {
        selections_[socket] = Selection::Connect;
    }
    std::uint32_t const error = done ? 0 : static_cast<std::uint32_t>(kServerNotVerified);
    DispatchSocketEvent(table_.connectMessageId, socket, MakeEventParameter(FD_CONNECT, error));
}

void SocketLayer::SelectConnect(SocketHandle socket) {
    selections_[socket] = Selection::Connect;
    loop_.Watch(socket, EventLoop::Interest::Writable, [this, socket] { OnConnectReady(socket); });
}

void SocketLayer::SelectRead(SocketHandle socket) {
    selections_[socket] = Selection::Read;
    loop_.Watch(socket, EventLoop::Interest::Readable, [this, socket] { OnReadable(socket); });
    WatchWritableOnce(socket);
}

void SocketLayer::WatchWritableOnce(SocketHandle socket) {
    // Writability is reported once; write interest left on would wake every turn.
    loop_.Watch(socket, EventLoop::Interest::Writable, [this, socket] {
        loop_.Unwatch(socket, EventLoop::Interest::Writable);
        DispatchSocketEvent(table_.readMessageId, socket, MakeEventParameter(FD_WRITE, 0));
    });
}

void SocketLayer::SelectAccept(SocketHandle socket) {
    selections_[socket] = Selection::Accept;
    loop_.Watch(socket, EventLoop::Interest::Readable, [this, socket] {
        DispatchSocketEvent(table_.acceptMessageId, socket, MakeEventParameter(FD_ACCEPT, 0));
    });
}

void SocketLayer::Deselect(SocketHandle socket) {
    selections_.erase(socket);
    loop_.Forget(socket);
}

void SocketLayer::OnConnectReady(SocketHandle socket) {
    // A connected socket stays writable; the connect is reported once.
    loop_.Unwatch(socket, EventLoop::Interest::Writable);
    auto const error = static_cast<std::uint32_t>(sockets::ConnectOutcome(socket));
    if (error == 0 && tls_) {
        if (table_.onSecuring) {
            table_.onSecuring(socket);
        }
        return StartHandshake(socket, kNoSocket);
    }
    DispatchSocketEvent(table_.connectMessageId, socket, MakeEventParameter(FD_CONNECT, error));
}

void SocketLayer::OnReadable(SocketHandle socket) {
    // Level-triggered: while unread data remains the socket stays readable and the next turn
    // brings the next notification.
    DispatchSocketEvent(table_.readMessageId, socket, MakeEventParameter(FD_READ, 0));
}

void SocketLayer::ReadOnce(SocketHandle socket) {
    if (SecureChannel* channel = ChannelOf(socket)) {
        return ReadProtected(socket, *channel);
    }
    ReadPlain(socket);
}

std::size_t SocketLayer::ReadRecords(SecureChannel& channel,
                                     std::optional<SecureChannel::Progress>& stopped) {
    // A record often carries a single small frame (a request is one record of its own): as many
    // records as fit in the read buffer go to the owner in one event, as one recv takes many
    // frames of a plain connection. Otherwise every request would be answered on its own.
    // Reading on once the channel holds nothing more would only meet an empty socket.
    std::size_t filled = 0;
    for (;;) {
        SecureChannel::Progress progress = SecureChannel::Progress::Done;
        long const count = channel.Read(std::span(readBuffer_).subspan(filled), progress);
        if (count <= 0) {
            stopped = progress;
            return filled;
        }
        filled += static_cast<std::size_t>(count);
        if (filled == readBuffer_.size() || !channel.HasBuffered()) {
            return filled;
        }
    }
}

void SocketLayer::ReadProtected(SocketHandle socket, SecureChannel& channel) {
    std::optional<SecureChannel::Progress> stopped;
    std::size_t const filled = ReadRecords(channel, stopped);
    if (filled > 0) {
        // What the channel still holds is read in the next turn; poll cannot report it.
        if (channel.HasBuffered()) {
            ReadBufferedSoon(socket);
        }
        if (table_.onRead) {
            table_.onRead(socket, std::span<const std::uint8_t>(readBuffer_.data(), filled));
        }
        // The owner may have closed the socket while handling the bytes.
        if (!selections_.contains(socket)) {
            return;
        }
    }
    if (!stopped || *stopped == SecureChannel::Progress::WantRead) {
        return ResumeWriteAfterRead(socket);
    }
    if (*stopped == SecureChannel::Progress::WantWrite) {
        return WatchWritableOnce(socket);
    }
    // The peer closed or the channel failed: one close notification, then silence.
    Deselect(socket);
    DispatchSocketEvent(table_.readMessageId, socket, MakeEventParameter(FD_CLOSE, 0));
}

void SocketLayer::ReadBufferedSoon(SocketHandle socket) {
    protected_[socket].bufferedRead->Start(std::chrono::milliseconds(0), [this, socket] {
        if (selections_.contains(socket)) {
            ReadOnce(socket);
        }
    });
}

void SocketLayer::ResumeWriteAfterRead(SocketHandle socket) {
    auto const found = protected_.find(socket);
    if (found != protected_.end() && std::exchange(found->second.writeAwaitsRead, false)) {
        DispatchSocketEvent(table_.readMessageId, socket, MakeEventParameter(FD_WRITE, 0));
    }
}

void SocketLayer::ReadPlain(SocketHandle socket) {
    long const count = sockets::Receive(socket, readBuffer_);
    if (count > 0) {
        if (table_.onRead) {
            table_.onRead(socket, std::span<const std::uint8_t>(readBuffer_.data(),
                                                                static_cast<std::size_t>(count)));
        }
        return;
    }
    int const error = count == 0 ? 0 : sockets::LastError();
    if (sockets::WouldBlock(error) || sockets::Interrupted(error)) {
        return;
    }
    // The peer shut down or the socket failed: one close notification, then silence.
    Deselect(socket);
    DispatchSocketEvent(table_.readMessageId, socket,
                        MakeEventParameter(FD_CLOSE, static_cast<std::uint32_t>(error)));
}

void SocketLayer::Accept(SocketHandle socket) {
    SocketHandle const accepted = sockets::Accept(socket);
    if (!accepted.valid()) {
        int const error = sockets::LastError();
        // The connection stays queued, so the socket stays readable: without a rest every turn of
        // the loop would try again and fail again.
        if (sockets::OutOfResources(error)) {
            RestListening(socket);
            if (screen_) {
                screen_(kNoSocket, socket, error);
            }
        }
        return;
    }
    if (screen_) {
        return screen_(accepted, socket, 0);
    }
    Admit(accepted, socket);
}

void SocketLayer::Admit(SocketHandle socket, SocketHandle listening) {
    if (tls_) {
        return StartHandshake(socket, listening);
    }
    if (table_.onAccept) {
        table_.onAccept(socket, listening);
    } else if (table_.onClose) {
        table_.onClose(socket);
    } else {
        sockets::Close(socket);
    }
}

void SocketLayer::RestListening(SocketHandle socket) {
    loop_.Unwatch(socket, EventLoop::Interest::Readable);
    std::unique_ptr<Timer>& rest = resting_[socket];
    rest = std::make_unique<Timer>(loop_);
    rest->Start(kAcceptRest, [this, socket] {
        SelectAccept(socket);
        resting_.erase(socket);  // destroys this timer: nothing may follow
    });
}

}  // namespace qm::net
