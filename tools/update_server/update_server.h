// The server's network side: listens on port 34005, accepts any number of updaters and serves
// each through its own connection, all on one thread driven by the event loop.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "net/event_loop.h"
#include "net/portwell.h"
#include "update/messages.h"
#include "update_server/catalog_shelf.h"
#include "update_server/client_connection.h"
#include "update_server/server_log.h"

namespace qm::server {

inline constexpr std::uint16_t kServerPort = update::kServerPort;
inline constexpr std::uint32_t kServerId = 0x00000001;
inline constexpr std::uint32_t kFirstClientId = 0x00000100;
// A client that lets this much pile up unread is not read from until it has taken it.
inline constexpr std::size_t kPendingBytesBeforeHold = 256 * 1024;

class UpdateServer {
  public:
    UpdateServer(net::EventLoop& loop, CatalogShelf const& shelf, ServerLog& log);
    ~UpdateServer();
    UpdateServer(UpdateServer const&) = delete;
    UpdateServer& operator=(UpdateServer const&) = delete;

    // Starts listening on `address`, port 34005. Nothing on success, else why not.
    std::optional<std::string> Listen(std::string const& address);

    std::size_t ConnectionCount() const { return connections_.size(); }

    // Every connection accepted from now on speaks TLS through channels of `factory`.
    void UseTls(std::shared_ptr<net::SecureChannelFactory> factory) {
        layer_.UseTls(std::move(factory));
    }

  private:
    void OnAccept(net::SocketHandle socket);
    void OnRead(net::SocketHandle socket, std::span<const std::uint8_t> bytes);
    void OnWrite(net::SocketHandle socket);
    void OnClose(net::SocketHandle socket);
    void Flush(ClientConnection& connection);
    void Drop(ClientConnection& connection, std::string_view how);
    ClientConnection* Find(net::SocketHandle socket);

    CatalogShelf const& shelf_;
    ServerLog& log_;
    net::SocketLayer layer_;
    net::SocketHandle listeningSocket_;
    std::uint32_t nextClientId_ = kFirstClientId;
    std::map<net::SocketHandle, std::unique_ptr<ClientConnection>> connections_;
};

}  // namespace qm::server
