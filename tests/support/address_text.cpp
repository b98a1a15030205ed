#include "support/address_text.h"

#include <array>

#include "test_socket_system.h"

namespace qm::test {

std::vector<std::uint8_t> AddressBytes(std::string const& text) {
    std::array<std::uint8_t, 16> address{};
    if (::inet_pton(AF_INET, text.c_str(), address.data()) == 1) {
        return {address.begin(), address.begin() + 4};
    }
    ::inet_pton(AF_INET6, text.c_str(), address.data());
    return {address.begin(), address.end()};
}

}  // namespace qm::test
