#include "update_server/client_census.h"

namespace qm::server {
namespace {

using Room = ClientCensus::Room;

Room RoomBy(net::SocketHandle victim) {
    return victim.valid() ? Room{Room::Verdict::MadeByClosing, victim}
                          : Room{Room::Verdict::None, net::kNoSocket};
}

}  // namespace

Room ClientCensus::ForConnection() const {
    if (entries_.size() < maxClients_) {
        return Room{};
    }
    return RoomBy(OldestWaiting());
}

Room ClientCensus::ForAddress(std::string const& host, net::SocketHandle newcomer) const {
    auto const found = perHost_.find(host);
    if (found == perHost_.end() || found->second < maxPerAddress_) {
        return Room{};
    }
    return RoomBy(OldestWaitingFrom(host, newcomer));
}

net::SocketHandle ClientCensus::OldestWaitingFrom(std::string const& host,
                                                  net::SocketHandle except) const {
    for (auto const& [order, socket] : waiting_) {
        if (socket != except && entries_.at(socket).host == host) {
            return socket;
        }
    }
    return net::kNoSocket;
}

void ClientCensus::Add(net::SocketHandle socket) {
    Remove(socket);
    std::uint64_t const order = nextOrder_++;
    entries_[socket] = Entry{order, {}, false};
    waiting_.emplace(order, socket);
}

void ClientCensus::SetAddress(net::SocketHandle socket, std::string const& host) {
    auto const found = entries_.find(socket);
    if (found == entries_.end() || !found->second.host.empty()) {
        return;
    }
    found->second.host = host;
    ++perHost_[host];
}

void ClientCensus::LoggedIn(net::SocketHandle socket) {
    auto const found = entries_.find(socket);
    if (found != entries_.end() && !found->second.loggedIn) {
        found->second.loggedIn = true;
        waiting_.erase({found->second.order, socket});
    }
}

void ClientCensus::Remove(net::SocketHandle socket) {
    auto const found = entries_.find(socket);
    if (found == entries_.end()) {
        return;
    }
    Entry const& entry = found->second;
    waiting_.erase({entry.order, socket});
    if (!entry.host.empty() && --perHost_[entry.host] == 0) {
        perHost_.erase(entry.host);
    }
    entries_.erase(found);
}

}  // namespace qm::server
