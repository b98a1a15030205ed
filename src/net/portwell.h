// portwell: the asynchronous socket layer. Sockets are non-blocking; their progress is reported
// as notifications that the event loop delivers through DispatchSocketEvent to the callbacks of
// the SocketEventTable.
//
// Results: 0 success, -1 failure, -2 (SendAll only) nothing sent because the socket would block.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "base/aligned_buffer.h"
#include "net/endpoint.h"
#include "net/event_loop.h"
#include "net/secure_channel.h"
#include "net/socket_handle.h"
#include "net/timer.h"

namespace qm::net {

// Event codes carried in the low 16 bits of a notification's parameter; the error code (the
// system's: an errno value on POSIX systems, a Windows Sockets code on Windows; 0 for none) is
// carried in the high 16 bits.
inline constexpr std::uint32_t FD_READ = 1;
inline constexpr std::uint32_t FD_WRITE = 2;
inline constexpr std::uint32_t FD_ACCEPT = 8;
inline constexpr std::uint32_t FD_CONNECT = 16;
inline constexpr std::uint32_t FD_CLOSE = 32;

inline constexpr std::size_t kReadBufferSize = 2048;

// A listening socket whose accept fails for lack of descriptors or memory is not watched for this
// long: the connection waiting there keeps it readable, and the loop would otherwise spin.
inline constexpr std::chrono::milliseconds kAcceptRest{250};

inline constexpr std::uint32_t MakeEventParameter(std::uint32_t event, std::uint32_t error) {
    return (error << 16) | (event & 0xFFFFu);
}

struct SocketEventTable {
    // Notification kinds ("portwell_wsa_read", "portwell_wsa_accept", "portwell_wsa_connect");
    // 0 until SocketStartup gives them their numbers.
    std::uint32_t acceptMessageId = 0;
    std::uint32_t readMessageId = 0;
    std::uint32_t connectMessageId = 0;

    // Empty slot: the event is not handled. The bytes given to onRead lie in the layer's one read
    // buffer and stay valid only until the next read notification.
    std::function<void(SocketHandle socket, std::span<const std::uint8_t> bytes)> onRead;
    std::function<void(SocketHandle socket)> onWrite;
    std::function<void(SocketHandle socket)> onClose;
    std::function<void(SocketHandle newSocket, SocketHandle listeningSocket)> onAccept;
    // An accepted connection whose secure handshake failed or ran out of time, just before the
    // layer closes it.
    std::function<void(SocketHandle socket)> onHandshakeFailed;
    std::function<void(SocketHandle socket, int error)> onConnect;
    // A connection made is connected and its secure handshake begins; the connect notification
    // follows when the handshake has ended.
    std::function<void(SocketHandle socket)> onSecuring;
};

class SocketLayer {
  public:
    explicit SocketLayer(EventLoop& loop);
    ~SocketLayer();
    SocketLayer(SocketLayer const&) = delete;
    SocketLayer& operator=(SocketLayer const&) = delete;

    SocketEventTable& table() { return table_; }

    // Readies the system's sockets interface and gives the three notification kinds their
    // numbers. Returns 0, or -1 when the sockets interface cannot be used.
    int SocketStartup();

    // Starts a non-blocking TCP connect to `host` (a dotted IPv4 address is used as is, anything
    // else is looked up by name and its first IPv4 address used) on `port`. The socket is
    // not inherited by programs started later and bound to 0.0.0.0 port 0. Returns the socket, or
    // none (lookup, socket, bind or connect failure; no socket is left open). The end of the
    // connect arrives as a connect notification carrying its error.
    SocketHandle AsyncConnect(std::string const& host, std::uint16_t port);

    // The same for one endpoint, IPv4 or IPv6 (bound to the wildcard address of its family).
    SocketHandle AsyncConnectTo(Endpoint const& endpoint);

    // Selects read, write and close notifications for a connected socket (replacing the connect
    // selection). Writability is reported once now and afterwards only after a send that would
    // block. Returns 0, or -1 (the socket is then closed).
    int AsyncReceive(SocketHandle socket);

    // Listens on `address`:`port` (the address may be used again at once) and selects accept
    // notifications. `address` is a dotted IPv4 address, an IPv6 address (that socket takes IPv6
    // alone, so that "::" and "0.0.0.0" can both be listened on) or a name looked up for its first
    // IPv4 address. Returns the listening socket or none.
    SocketHandle AsyncListen(std::string const& address, std::uint16_t port);

    // The owner sees every accepted connection first, straight from accept (before any TLS
    // handshake), as screen(socket, listening, 0), and every accept that failed for lack of
    // descriptors or memory as screen(kNoSocket, listening, error) with the system's code. It goes
    // on with a connection through Admit, or closes it with CloseSocket. Without a screen every
    // connection is admitted at once.
    using AcceptScreen =
        std::function<void(SocketHandle socket, SocketHandle listening, int error)>;
    void ScreenAccepts(AcceptScreen screen) { screen_ = std::move(screen); }
    // An accepted connection goes on: its TLS handshake when TLS is in use, then onAccept.
    void Admit(SocketHandle socket, SocketHandle listening);

    // Handles one notification of kind `message` for `socket`: see the dispatch rules in
    // portwell.cpp. Returns 1 when the notification was handled, 0 otherwise.
    int DispatchSocketEvent(std::uint32_t message, SocketHandle socket, std::uint32_t parameter);

    // Sends all of `bytes`: 0 when all went out, -2 when the socket would block before any byte,
    // -1 on failure or when it blocked after part of the block went out. Never raises SIGPIPE and
    // never closes the socket.
    int SendAll(SocketHandle socket, std::span<const std::uint8_t> bytes);

    // Sends as much of `bytes` as the socket takes now: the count sent, 0 when it would block (its
    // writability is then reported again once it has room), -1 on failure. Never raises SIGPIPE
    // and never closes the socket.
    long SendSome(SocketHandle socket, std::span<const std::uint8_t> bytes);

    // Stops (held) or resumes read notifications for a connected socket, so that a peer that
    // sends faster than its answers leave is held back by TCP instead of by memory.
    void HoldReads(SocketHandle socket, bool held);

    // Removes the socket from the loop, then closes it. Returns 0, or -1 when the close failed.
    int CloseSocket(SocketHandle socket);

    // Every connection made or accepted from now on speaks TLS through channels of `factory`: a
    // connect is reported only once its handshake is complete (or fails with
    // kServerNotVerified), an accepted connection only once its handshake is complete (one that
    // fails is closed). `serverName` is the name a client connects to (for the server's sake).
    // Reads and sends then carry the decrypted bytes; nothing else changes for the owner.
    void UseTls(std::shared_ptr<SecureChannelFactory> factory, std::string serverName = {});

    // Descriptors this layer currently watches; for tests.
    std::size_t SelectedCount() const { return selections_.size(); }

  private:
    void SelectConnect(SocketHandle socket);
    void SelectRead(SocketHandle socket);
    void WatchWritableOnce(SocketHandle socket);
    void SelectAccept(SocketHandle socket);
    void Deselect(SocketHandle socket);
    void OnConnectReady(SocketHandle socket);
    void OnReadable(SocketHandle socket);
    void ReadOnce(SocketHandle socket);
    void Accept(SocketHandle socket);
    void RestListening(SocketHandle socket);
    void ReadPlain(SocketHandle socket);
    void ReadProtected(SocketHandle socket, SecureChannel& channel);
    // Decrypted bytes into the read buffer, from as many records as the channel holds and the
    // buffer takes: their count; `stopped` says why the channel gave no more, if it did not.
    std::size_t ReadRecords(SecureChannel& channel,
                            std::optional<SecureChannel::Progress>& stopped);
    // TLS: reads in the next turn what the channel holds, which poll cannot report.
    void ReadBufferedSoon(SocketHandle socket);
    // TLS: a send that waited for the peer's bytes is told, after a read, that it may go on.
    void ResumeWriteAfterRead(SocketHandle socket);
    // TLS: the handshake of a connection made (listening none) or accepted from `listening`.
    void StartHandshake(SocketHandle socket, SocketHandle listening);
    void DriveHandshake(SocketHandle socket);
    void EndHandshake(SocketHandle socket, bool done);
    SecureChannel* ChannelOf(SocketHandle socket);

    enum class Selection { Connect, Read, Accept, Handshake };
    struct Protected {
        std::unique_ptr<SecureChannel> channel;
        SocketHandle listening;  // the listening socket of an accepted connection
        bool handshaken = false;
        std::unique_ptr<Timer> handshakeLimit;
        std::unique_ptr<Timer> bufferedRead;  // reads what the channel holds, which poll cannot see
        bool writeAwaitsRead = false;         // a send could not go on before the peer's bytes
    };
    EventLoop& loop_;
    SocketEventTable table_;
    alignas(base::kCacheLineSize) std::array<std::uint8_t, kReadBufferSize> readBuffer_{};
    std::map<SocketHandle, Selection> selections_;
    std::shared_ptr<SecureChannelFactory> tls_;
    std::string tlsServerName_;
    std::map<SocketHandle, Protected> protected_;
    AcceptScreen screen_;
    std::map<SocketHandle, std::unique_ptr<Timer>>
        resting_;  // listening sockets after a failed accept
};

}  // namespace qm::net
