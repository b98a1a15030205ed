#include "net/unix/host_address.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>

#include <cstring>

namespace qm::net {

namespace {

// Frees the resolver's answer list when the lookup is done with it.
class AddressList {
  public:
    explicit AddressList(std::string const& host) {
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_STREAM;
        if (::getaddrinfo(host.c_str(), nullptr, &hints, &first_) != 0) {
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

    std::optional<in_addr> FirstIpv4() const {
        for (addrinfo const* entry = first_; entry != nullptr; entry = entry->ai_next) {
            if (entry->ai_family == AF_INET && entry->ai_addrlen >= sizeof(sockaddr_in)) {
                sockaddr_in address{};
                std::memcpy(&address, entry->ai_addr, sizeof address);
                return address.sin_addr;
            }
        }
        return std::nullopt;
    }

  private:
    addrinfo* first_ = nullptr;
};

}  // namespace

std::optional<in_addr> ParseDottedAddress(std::string const& host) {
    in_addr address{};
    if (::inet_pton(AF_INET, host.c_str(), &address) != 1) {
        return std::nullopt;
    }
    return address;
}

std::optional<in_addr> LookUpHostAddress(std::string const& host) {
    return AddressList(host).FirstIpv4();
}

std::optional<in_addr> ResolveHostAddress(std::string const& host, HostLookup const& lookup) {
    if (auto const dotted = ParseDottedAddress(host)) {
        return dotted;
    }
    return lookup ? lookup(host) : std::nullopt;
}

}  // namespace qm::net
