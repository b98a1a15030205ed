// Who is connected, for the limits: every connection from its accept on, with its client's address
// once known and whether it has logged in. A new connection finds room, or room is made by closing
// the oldest connection that has not logged in, or it is refused.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <utility>

#include "net/socket_handle.h"

namespace qm::server {

class ClientCensus {
  public:
    ClientCensus(std::size_t maxClients, std::size_t maxPerAddress)
        : maxClients_(maxClients), maxPerAddress_(maxPerAddress) {}

    struct Room {
        enum class Verdict { Free, MadeByClosing, None };
        Verdict verdict = Verdict::Free;
        net::SocketHandle victim;  // the connection to close first, for MadeByClosing
    };

    // Room for one more connection.
    Room ForConnection() const;
    // Room for connection `newcomer` (counted, its address not yet set) among those from `host`.
    Room ForAddress(std::string const& host, net::SocketHandle newcomer) const;

    void Add(net::SocketHandle socket);
    void SetAddress(net::SocketHandle socket, std::string const& host);
    void LoggedIn(net::SocketHandle socket);
    void Remove(net::SocketHandle socket);

    std::size_t size() const { return entries_.size(); }
    std::size_t maxClients() const { return maxClients_; }
    std::size_t maxPerAddress() const { return maxPerAddress_; }
    // Connections that have not logged in, oldest first (for draining).
    std::size_t Waiting() const { return waiting_.size(); }
    net::SocketHandle OldestWaiting() const {
        return waiting_.empty() ? net::kNoSocket : waiting_.begin()->second;
    }

  private:
    struct Entry {
        std::uint64_t order = 0;
        std::string host;  // empty until known
        bool loggedIn = false;
    };
    net::SocketHandle OldestWaitingFrom(std::string const& host, net::SocketHandle except) const;

    std::size_t maxClients_;
    std::size_t maxPerAddress_;
    std::uint64_t nextOrder_ = 0;
    std::map<net::SocketHandle, Entry> entries_;
    std::set<std::pair<std::uint64_t, net::SocketHandle>>
        waiting_;  // (order, socket), not logged in
    std::map<std::string, std::size_t> perHost_;
};

}  // namespace qm::server
