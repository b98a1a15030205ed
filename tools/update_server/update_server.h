// The server's network side: listens on port 34005 on each of its addresses, takes updaters up to
// its limits and serves each through its own connection, all on one thread driven by the event
// loop.
//
// A connection's way: accepted (counted from here on; it must log in within kLoginLimit), its
// PROXY protocol header read when the server sits behind a load balancer (the client's address
// comes from it), placed among the connections from its address, its TLS handshake when TLS is on,
// then the conversation. A client that takes nothing of what it was sent for the idle limit is
// closed. When full, the oldest connection that has not logged in makes room, else the new one is
// refused; such events are logged at most once a second.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "net/event_loop.h"
#include "net/portwell.h"
#include "net/timer.h"
#include "update/messages.h"
#include "update_server/catalog_shelf.h"
#include "update_server/client_census.h"
#include "update_server/client_connection.h"
#include "update_server/peer_address.h"
#include "update_server/read_stall_watch.h"
#include "update_server/server_limits.h"
#include "update_server/server_log.h"
#include "update_server/throttled_log.h"

namespace qm::server {

inline constexpr std::uint16_t kServerPort = update::kServerPort;
inline constexpr std::uint32_t kServerId = 0x00000001;
inline constexpr std::uint32_t kFirstClientId = 0x00000100;
// A client that lets this much pile up unread is not read from until it has taken it. Small, so
// that many clients that do not read cost little memory; the socket's own buffers hold far more.
inline constexpr std::size_t kPendingBytesBeforeHold = 16 * 1024;

// How connections are taken and served.
struct ServingRules {
    bool proxyProtocol = false;  // every connection starts with a PROXY protocol v2 header
    bool fastPath = true;        // the announcement offers list entries and file streams
};

class UpdateServer {
  public:
    // `limits.maxClients` must be set (not 0).
    UpdateServer(net::EventLoop& loop, CatalogShelf const& shelf, ServerLog& log,
                 ServerLimits const& limits, ServingRules rules);
    ~UpdateServer();
    UpdateServer(UpdateServer const&) = delete;
    UpdateServer& operator=(UpdateServer const&) = delete;

    // Starts listening on `address` (IPv4 or IPv6), port 34005. Nothing on success, else why not.
    std::optional<std::string> Listen(std::string const& address);

    std::size_t ConnectionCount() const { return clients_.size(); }

    // Every connection accepted from now on speaks TLS through channels of `factory`.
    void UseTls(std::shared_ptr<net::SecureChannelFactory> factory) {
        layer_.UseTls(std::move(factory));
    }

    // Stops accepting (the listening sockets are closed) and closes every connection that has not
    // logged in; the clients in the middle of a run go on. `finished` runs once the last of them
    // is gone, or when `limit` has passed (the rest are then closed with the server).
    void Drain(std::chrono::seconds limit, std::function<void()> finished);

  private:
    struct Client {
        Client(net::EventLoop& loop, net::SocketHandle listeningSocket)
            : listening(listeningSocket), login(loop) {}
        net::SocketHandle listening;
        std::optional<PeerAddress> peer;   // known once its PROXY header is read, if one comes
        bool healthCheck = false;          // a load balancer's own connection (LOCAL)
        net::Timer login;                  // runs until the client logs in
        std::vector<std::uint8_t> header;  // the PROXY header read so far
        std::unique_ptr<ClientConnection> connection;  // once its conversation began
        std::unique_ptr<ReadStallWatch> stall;
    };

    void OnAccepted(net::SocketHandle socket, net::SocketHandle listening, int error);
    void ReadProxyHeader(net::SocketHandle socket);
    void Place(net::SocketHandle socket, PeerAddress const& peer);
    void OnAccept(net::SocketHandle socket);
    void OnRead(net::SocketHandle socket, std::span<const std::uint8_t> bytes);
    void OnWrite(net::SocketHandle socket);
    void OnClose(net::SocketHandle socket);
    void OnHandshakeFailed(net::SocketHandle socket);
    void Flush(Client& client);
    // Closes a connection and logs how: limit events through the throttled log, and nothing for
    // a health check.
    void Close(net::SocketHandle socket, std::string_view how, bool limitEvent);
    void Forget(net::SocketHandle socket);
    // True when there is room, made by closing the victim if need be (`eviction` says why);
    // else logs `refusal`.
    bool MakeRoom(ClientCensus::Room const& room, std::string const& refusal,
                  std::string const& eviction);
    // The client's address and port: from its PROXY header, else the socket's peer.
    std::string PeerText(net::SocketHandle socket, Client const& client) const;
    // "connection from ADDRESS:PORT", for one that has no conversation yet.
    std::string Describe(net::SocketHandle socket, Client const& client) const;
    Client* Find(net::SocketHandle socket);

    net::EventLoop& loop_;
    CatalogShelf const& shelf_;
    ServerLog& log_;
    ThrottledLog limitLog_;
    ServerLimits limits_;
    ServingRules rules_;
    net::SocketLayer layer_;
    std::vector<net::SocketHandle> listening_;
    std::uint32_t nextClientId_ = kFirstClientId;
    ClientCensus census_;
    std::map<net::SocketHandle, Client> clients_;
    bool draining_ = false;
    std::function<void()> drained_;  // runs once the drain is over
    net::Timer drainLimit_;
};

}  // namespace qm::server
