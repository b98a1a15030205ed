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

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <utility>

#include "base/unique_fd.h"
#include "net/host_address.h"

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

bool WouldBlock(int error) {
    return error == EAGAIN || error == EWOULDBLOCK;
}

// Every frame goes out as soon as it is sent. Otherwise a frame smaller than a segment waits for
// the acknowledgement of the one before whenever one is still in flight, up to the peer's
// delayed-acknowledgement time (40 ms on Linux): pipelined chunk requests and the chunks that
// answer them would take turns with that timer.
void SendFramesAtOnce(int fd) {
    int const on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

sockaddr_in Ipv4Endpoint(in_addr address, std::uint16_t port) {
    sockaddr_in endpoint{};
    endpoint.sin_family = AF_INET;
    endpoint.sin_port = htons(port);
    endpoint.sin_addr = address;
    return endpoint;
}

bool BindTo(int fd, sockaddr_in const& endpoint) {
    return ::bind(fd, reinterpret_cast<sockaddr const*>(&endpoint), sizeof endpoint) == 0;
}

// The wildcard address of the family, port 0: the system picks both.
bool BindToWildcard(int fd, int family) {
    if (family == AF_INET6) {
        sockaddr_in6 any{};
        any.sin6_family = AF_INET6;
        any.sin6_addr = in6addr_any;
        return ::bind(fd, reinterpret_cast<sockaddr const*>(&any), sizeof any) == 0;
    }
    return BindTo(fd, Ipv4Endpoint(in_addr{INADDR_ANY}, 0));
}

// 0 when the connect finished at once or goes on in the background, else the error.
int StartConnect(int fd, Endpoint const& endpoint) {
    if (::connect(fd, reinterpret_cast<sockaddr const*>(&endpoint.address), endpoint.length) == 0) {
        return 0;
    }
    // An interrupted non-blocking connect also carries on by itself.
    return (errno == EINPROGRESS || errno == EINTR) ? 0 : errno;
}

int PendingError(int fd) {
    int error = 0;
    socklen_t size = sizeof error;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0) {
        return errno;
    }
    return error;
}

bool IsOpen(int fd) {
    return fd >= 0 && ::fcntl(fd, F_GETFD) != -1;
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
    table_.readMessageId = kFirstMessageId + 1;
    table_.acceptMessageId = kFirstMessageId + 2;
    table_.connectMessageId = kFirstMessageId + 3;
    return 0;
}

int SocketLayer::AsyncConnect(std::string const& host, std::uint16_t port) {
    std::optional<in_addr> const address = ResolveHostAddress(host);
    if (!address) {
        return -1;
    }
    sockaddr_in const remote = Ipv4Endpoint(*address, port);
    Endpoint endpoint;
    std::memcpy(&endpoint.address, &remote, sizeof remote);
    endpoint.length = sizeof remote;
    return AsyncConnectTo(endpoint);
}

int SocketLayer::AsyncConnectTo(Endpoint const& endpoint) {
    base::UniqueFd socket(
        ::socket(endpoint.family(), SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP));
    if (!socket.valid() || !BindToWildcard(socket.get(), endpoint.family())) {
        return -1;
    }
    SendFramesAtOnce(socket.get());
    // Watch before connecting, so that the end of the connect cannot be missed.
    SelectConnect(socket.get());
    if (StartConnect(socket.get(), endpoint) != 0) {
        Deselect(socket.get());
        return -1;
    }
    return socket.Release();
}

int SocketLayer::AsyncReceive(int socket) {
    if (!IsOpen(socket)) {
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

int SocketLayer::AsyncListen(std::string const& address, std::uint16_t port) {
    std::optional<Endpoint> local = LiteralEndpoint(address, port);
    if (!local) {
        std::optional<in_addr> const named = ResolveHostAddress(address);
        if (!named) {
            return -1;
        }
        sockaddr_in const endpoint = Ipv4Endpoint(*named, port);
        local = Endpoint{};
        std::memcpy(&local->address, &endpoint, sizeof endpoint);
        local->length = sizeof endpoint;
    }
    base::UniqueFd socket(
        ::socket(local->family(), SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP));
    int const on = 1;
    if (!socket.valid() ||
        ::setsockopt(socket.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        (local->family() == AF_INET6 &&
         ::setsockopt(socket.get(), IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on) != 0) ||
        ::bind(socket.get(), reinterpret_cast<sockaddr const*>(&local->address), local->length) !=
            0 ||
        ::listen(socket.get(), SOMAXCONN) != 0) {
        return -1;
    }
    SelectAccept(socket.get());
    return socket.Release();
}

int SocketLayer::DispatchSocketEvent(std::uint32_t message, int socket, std::uint32_t parameter) {
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

int SocketLayer::SendAll(int socket, std::span<const std::uint8_t> bytes) {
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

long SocketLayer::SendSome(int socket, std::span<const std::uint8_t> bytes) {
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
        ssize_t const result = ::send(socket, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (result > 0) {
            return static_cast<long>(result);
        }
        if (result < 0 && errno == EINTR) {
            continue;
        }
        if (result == 0 || !WouldBlock(errno)) {
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

void SocketLayer::HoldReads(int socket, bool held) {
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

int SocketLayer::CloseSocket(int socket) {
    Deselect(socket);
    protected_.erase(socket);
    resting_.erase(socket);
    return ::close(socket);
}

void SocketLayer::UseTls(std::shared_ptr<SecureChannelFactory> factory, std::string serverName) {
    tls_ = std::move(factory);
    tlsServerName_ = std::move(serverName);
}

SecureChannel* SocketLayer::ChannelOf(int socket) {
    auto const found = protected_.find(socket);
    return found == protected_.end() || !found->second.handshaken ? nullptr
                                                                  : found->second.channel.get();
}

void SocketLayer::StartHandshake(int socket, int listening) {
    Protected& state = protected_[socket];
    state.channel = tls_->Open(socket, listening == -1 ? tlsServerName_ : std::string());
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

void SocketLayer::DriveHandshake(int socket) {
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
void SocketLayer::EndHandshake(int socket, bool done) {
    Protected& state = protected_[socket];
    state.handshakeLimit->Stop();
    int const listening = state.listening;
    Deselect(socket);
    if (done) {
        state.handshaken = true;
    } else {
        protected_.erase(socket);
    }
    if (listening != -1) {
        if (!done) {
            if (table_.onHandshakeFailed) {
                table_.onHandshakeFailed(socket);
            }
            ::close(socket);
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

void SocketLayer::SelectConnect(int socket) {
    selections_[socket] = Selection::Connect;
    loop_.Watch(socket, EventLoop::Interest::Writable, [this, socket] { OnConnectReady(socket); });
}

void SocketLayer::SelectRead(int socket) {
    selections_[socket] = Selection::Read;
    loop_.Watch(socket, EventLoop::Interest::Readable, [this, socket] { OnReadable(socket); });
    WatchWritableOnce(socket);
}

void SocketLayer::WatchWritableOnce(int socket) {
    // Writability is reported once; write interest left on would wake every turn.
    loop_.Watch(socket, EventLoop::Interest::Writable, [this, socket] {
        loop_.Unwatch(socket, EventLoop::Interest::Writable);
        DispatchSocketEvent(table_.readMessageId, socket, MakeEventParameter(FD_WRITE, 0));
    });
}

void SocketLayer::SelectAccept(int socket) {
    selections_[socket] = Selection::Accept;
    loop_.Watch(socket, EventLoop::Interest::Readable, [this, socket] {
        DispatchSocketEvent(table_.acceptMessageId, socket, MakeEventParameter(FD_ACCEPT, 0));
    });
}

void SocketLayer::Deselect(int socket) {
    selections_.erase(socket);
    loop_.Forget(socket);
}

void SocketLayer::OnConnectReady(int socket) {
    // A connected socket stays writable; the connect is reported once.
    loop_.Unwatch(socket, EventLoop::Interest::Writable);
    auto const error = static_cast<std::uint32_t>(PendingError(socket));
    if (error == 0 && tls_) {
        if (table_.onSecuring) {
            table_.onSecuring(socket);
        }
        return StartHandshake(socket, -1);
    }
    DispatchSocketEvent(table_.connectMessageId, socket, MakeEventParameter(FD_CONNECT, error));
}

void SocketLayer::OnReadable(int socket) {
    // Level-triggered: while unread data remains the socket stays readable and the next turn
    // brings the next notification.
    DispatchSocketEvent(table_.readMessageId, socket, MakeEventParameter(FD_READ, 0));
}

void SocketLayer::ReadOnce(int socket) {
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

void SocketLayer::ReadProtected(int socket, SecureChannel& channel) {
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

void SocketLayer::ReadBufferedSoon(int socket) {
    protected_[socket].bufferedRead->Start(std::chrono::milliseconds(0), [this, socket] {
        if (selections_.contains(socket)) {
            ReadOnce(socket);
        }
    });
}

void SocketLayer::ResumeWriteAfterRead(int socket) {
    auto const found = protected_.find(socket);
    if (found != protected_.end() && std::exchange(found->second.writeAwaitsRead, false)) {
        DispatchSocketEvent(table_.readMessageId, socket, MakeEventParameter(FD_WRITE, 0));
    }
}

void SocketLayer::ReadPlain(int socket) {
    ssize_t const count = ::recv(socket, readBuffer_.data(), readBuffer_.size(), 0);
    if (count > 0) {
        if (table_.onRead) {
            table_.onRead(socket, std::span<const std::uint8_t>(readBuffer_.data(),
                                                                static_cast<std::size_t>(count)));
        }
        return;
    }
    int const error = count == 0 ? 0 : errno;
    if (WouldBlock(error) || error == EINTR) {
        return;
    }
    // The peer shut down or the socket failed: one close notification, then silence.
    Deselect(socket);
    DispatchSocketEvent(table_.readMessageId, socket,
                        MakeEventParameter(FD_CLOSE, static_cast<std::uint32_t>(error)));
}

void SocketLayer::Accept(int socket) {
    int const accepted = ::accept4(socket, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (accepted == -1) {
        int const error = errno;
        // The connection stays queued, so the socket stays readable: without a rest every turn of
        // the loop would try again and fail again.
        if (error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM) {
            RestListening(socket);
            if (screen_) {
                screen_(-1, socket, error);
            }
        }
        return;
    }
    SendFramesAtOnce(accepted);
    if (screen_) {
        return screen_(accepted, socket, 0);
    }
    Admit(accepted, socket);
}

void SocketLayer::Admit(int socket, int listening) {
    if (tls_) {
        return StartHandshake(socket, listening);
    }
    if (table_.onAccept) {
        table_.onAccept(socket, listening);
    } else if (table_.onClose) {
        table_.onClose(socket);
    } else {
        ::close(socket);
    }
}

void SocketLayer::RestListening(int socket) {
    loop_.Unwatch(socket, EventLoop::Interest::Readable);
    std::unique_ptr<Timer>& rest = resting_[socket];
    rest = std::make_unique<Timer>(loop_);
    rest->Start(kAcceptRest, [this, socket] {
        SelectAccept(socket);
        resting_.erase(socket);  // destroys this timer: nothing may follow
    });
}

}  // namespace qm::net
