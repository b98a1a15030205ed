#include "net/endpoint.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>

#include <algorithm>
#include <array>
#include <cstring>

namespace qm::net {
namespace {

template <typename Address>
Endpoint EndpointOf(Address const& address) {
    Endpoint endpoint;
    std::memcpy(&endpoint.address, &address, sizeof address);
    endpoint.length = sizeof address;
    return endpoint;
}

bool SameEndpoint(Endpoint const& a, Endpoint const& b) {
    return a.length == b.length && std::memcmp(&a.address, &b.address, a.length) == 0;
}

}  // namespace

std::string Endpoint::Describe() const {
    std::array<char, INET6_ADDRSTRLEN> text{};
    if (family() == AF_INET6) {
        auto const& v6 = reinterpret_cast<sockaddr_in6 const&>(address);
        ::inet_ntop(AF_INET6, &v6.sin6_addr, text.data(), text.size());
        std::string described = "[";
        described.append(text.data()).append("]:").append(std::to_string(ntohs(v6.sin6_port)));
        return described;
    }
    auto const& v4 = reinterpret_cast<sockaddr_in const&>(address);
    ::inet_ntop(AF_INET, &v4.sin_addr, text.data(), text.size());
    return std::string(text.data()) + ":" + std::to_string(ntohs(v4.sin_port));
}

std::optional<Endpoint> LiteralEndpoint(std::string const& host, std::uint16_t port) {
    sockaddr_in v4{};
    if (::inet_pton(AF_INET, host.c_str(), &v4.sin_addr) == 1) {
        v4.sin_family = AF_INET;
        v4.sin_port = htons(port);
        return EndpointOf(v4);
    }
    sockaddr_in6 v6{};
    if (::inet_pton(AF_INET6, host.c_str(), &v6.sin6_addr) == 1) {
        v6.sin6_family = AF_INET6;
        v6.sin6_port = htons(port);
        return EndpointOf(v6);
    }
    return std::nullopt;
}

std::vector<Endpoint> LookUpEndpoints(std::string const& host, std::uint16_t port) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_ADDRCONFIG | AI_NUMERICSERV;
    addrinfo* first = nullptr;
    std::string const service = std::to_string(port);
    if (::getaddrinfo(host.c_str(), service.c_str(), &hints, &first) != 0) {
        return {};
    }
    std::vector<Endpoint> endpoints;
    for (addrinfo const* entry = first; entry != nullptr; entry = entry->ai_next) {
        bool const known = entry->ai_family == AF_INET || entry->ai_family == AF_INET6;
        if (!known || entry->ai_addrlen > sizeof(sockaddr_storage)) {
            continue;
        }
        Endpoint endpoint;
        std::memcpy(&endpoint.address, entry->ai_addr, entry->ai_addrlen);
        endpoint.length = entry->ai_addrlen;
        if (std::none_of(endpoints.begin(), endpoints.end(),
                         [&](Endpoint const& seen) { return SameEndpoint(seen, endpoint); })) {
            endpoints.push_back(endpoint);
        }
    }
    ::freeaddrinfo(first);
    return endpoints;
}

}  // namespace qm::net
