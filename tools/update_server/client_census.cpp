#include "update_server/client_census.h"

namespace qm::server {
namespace {

using Room = ClientCensus::Room;

Room RoomBy(int victim) {
    return victim == -1 ? Room{Room::Verdict::None, -1}
                        : Room{Room::Verdict::MadeByClosing, victim};
}

}  // namespace

Room ClientCensus::ForConnection() const {
    if (entries_.size() < maxClients_) {
        return Room{};
    }
    return RoomBy(OldestWaiting());
}

Room ClientCensus::ForAddress(std::string const& host, int newcomer) const {
    auto const found = perHost_.find(host);
    if (found == perHost_.end() || found->second < maxPerAddress_) {
        return Room{};
    }
    return RoomBy(OldestWaitingFrom(host, newcomer));
}

int ClientCensus::OldestWaitingFrom(std::string const& host, int except) const {
    for (auto const& [order, socket] : waiting_) {
        if (socket != except && entries_.at(socket).host == host) {
            return socket;
        }
    }
    return -1;
}

void ClientCensus::Add(int socket) {
    Remove(socket);
    std::uint64_t const order = nextOrder_++;
    entries_[socket] = Entry{order, {}, false};
    waiting_.emplace(order, socket);
}

void ClientCensus::SetAddress(int socket, std::string const& host) {
    auto const found = entries_.find(socket);
    if (found == entries_.end() || !found->second.host.empty()) {
        return;
    }
    found->second.host = host;
    ++perHost_[host];
}

void ClientCensus::LoggedIn(int socket) {
    auto const found = entries_.find(socket);
    if (found != entries_.end() && !found->second.loggedIn) {
        found->second.loggedIn = true;
        waiting_.erase({found->second.order, socket});
    }
}

void ClientCensus::Remove(int socket) {
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
