#include "update_server/peer_address.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <array>
#include <cstring>

namespace qm::server {

std::string PeerAddress::Describe() const {
    bool const v6 = host.find(':') != std::string::npos;
    std::string described = v6 ? "[" + host + "]" : host;
    return described.append(":").append(std::to_string(port));
}

std::optional<PeerAddress> PeerAddressOf(sockaddr_storage const& address) {
    std::array<char, INET6_ADDRSTRLEN> text{};
    if (address.ss_family == AF_INET) {
        auto const& v4 = reinterpret_cast<sockaddr_in const&>(address);
        ::inet_ntop(AF_INET, &v4.sin_addr, text.data(), text.size());
        return PeerAddress{text.data(), ntohs(v4.sin_port)};
    }
    if (address.ss_family != AF_INET6) {
        return std::nullopt;
    }
    auto const& v6 = reinterpret_cast<sockaddr_in6 const&>(address);
    if (IN6_IS_ADDR_V4MAPPED(&v6.sin6_addr)) {
        in_addr v4{};
        std::memcpy(&v4, v6.sin6_addr.s6_addr + 12, sizeof v4);
        ::inet_ntop(AF_INET, &v4, text.data(), text.size());
    } else {
        ::inet_ntop(AF_INET6, &v6.sin6_addr, text.data(), text.size());
    }
    return PeerAddress{text.data(), ntohs(v6.sin6_port)};
}

std::optional<PeerAddress> SocketPeer(net::SocketHandle socket) {
    sockaddr_storage peer{};
    socklen_t size = sizeof peer;
    if (::getpeername(static_cast<int>(socket.native()), reinterpret_cast<sockaddr*>(&peer),
                      &size) != 0) {
        return std::nullopt;
    }
    return PeerAddressOf(peer);
}

std::string PeerOf(net::SocketHandle socket) {
    std::optional<PeerAddress> const peer = SocketPeer(socket);
    return peer ? peer->Describe() : "unknown peer";
}

}  // namespace qm::server
