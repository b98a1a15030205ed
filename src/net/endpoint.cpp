#include "net/endpoint.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "socket_system.h"

namespace qm::net {
namespace {

template <typename Address>
Endpoint EndpointOf(Address const& address) {
    static_assert(sizeof address <= sizeof Endpoint::address);
    Endpoint endpoint;
    std::memcpy(endpoint.address.data(), &address, sizeof address);
    endpoint.length = sizeof address;
    return endpoint;
}

template <typename Address>
Address AddressOf(Endpoint const& endpoint) {
    Address address{};
    std::memcpy(&address, endpoint.address.data(),
                std::min<std::size_t>(sizeof address, endpoint.length));
    return address;
}

bool SameEndpoint(Endpoint const& a, Endpoint const& b) {
    return a.length == b.length && std::memcmp(a.address.data(), b.address.data(), a.length) == 0;
}

// Frees the resolver's answer list when the lookup is done with it.
class AddressList {
  public:
    AddressList(std::string const& host, std::uint16_t port, int family, int flags) {
        addrinfo hints{};
        hints.ai_family = family;
        hints.ai_socktype = SOCK_STREAM;
        hints.ai_flags = flags | AI_NUMERICSERV;
        std::string const service = std::to_string(port);
        if (::getaddrinfo(host.c_str(), service.c_str(), &hints, &first_) != 0) {
            first_ = nullptr;
        }
    }
    ~AddressList() {
        if (first_ != nullptr) {
            ::freeaddrinfo(first_);
        }
    }
    AddressList(AddressList const&) = delete;
    AddressList& operator=(AddressList const&) = delete;

    // Every IPv4 and IPv6 address, each once, in the resolver's order.
    std::vector<Endpoint> Endpoints() const {
        std::vector<Endpoint> endpoints;
        for (addrinfo const* entry = first_; entry != nullptr; entry = entry->ai_next) {
            bool const known = entry->ai_family == AF_INET || entry->ai_family == AF_INET6;
            if (!known || entry->ai_addrlen > sizeof(Endpoint::address)) {
                continue;
            }
            Endpoint endpoint;
            std::memcpy(endpoint.address.data(), entry->ai_addr, entry->ai_addrlen);
            endpoint.length = static_cast<std::uint32_t>(entry->ai_addrlen);
            if (std::none_of(endpoints.begin(), endpoints.end(),
                             [&](Endpoint const& seen) { return SameEndpoint(seen, endpoint); })) {
                endpoints.push_back(endpoint);
            }
        }
        return endpoints;
    }

  private:
    addrinfo* first_ = nullptr;
};

}  // namespace

int Endpoint::family() const {
    return AddressOf<sockaddr_storage>(*this).ss_family;
}

std::string Endpoint::Describe() const {
    std::array<char, INET6_ADDRSTRLEN> text{};
    if (family() == AF_INET6) {
        sockaddr_in6 const v6 = AddressOf<sockaddr_in6>(*this);
        ::inet_ntop(AF_INET6, &v6.sin6_addr, text.data(), text.size());
        std::string described = "[";
        described.append(text.data()).append("]:").append(std::to_string(ntohs(v6.sin6_port)));
        return described;
    }
    sockaddr_in const v4 = AddressOf<sockaddr_in>(*this);
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

std::optional<Endpoint> FirstIpv4Endpoint(std::string const& host, std::uint16_t port) {
    sockaddr_in v4{};
    if (::inet_pton(AF_INET, host.c_str(), &v4.sin_addr) == 1) {
        v4.sin_family = AF_INET;
        v4.sin_port = htons(port);
        return EndpointOf(v4);
    }
    std::vector<Endpoint> const found = AddressList(host, port, AF_INET, 0).Endpoints();
    if (found.empty()) {
        return std::nullopt;
    }
    return found.front();
}

std::vector<Endpoint> LookUpEndpoints(std::string const& host, std::uint16_t port) {
    return AddressList(host, port, AF_UNSPEC, AI_ADDRCONFIG).Endpoints();
}

}  // namespace qm::net
