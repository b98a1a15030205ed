#include "win/loopback_peer.h"

#include <winsock2.h>
#include <ws2tcpip.h>

namespace qm::test::win {
namespace {

SOCKET Native(std::intptr_t socket) {
    return static_cast<SOCKET>(socket);
}

}  // namespace

LoopbackPeer::LoopbackPeer(TestAddress address) {
    WSADATA data{};
    ::WSAStartup(MAKEWORD(2, 2), &data);
    SOCKET const socket = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(kPort);
    ::inet_pton(AF_INET, LoopbackAddress(address).c_str(), &local.sin_addr);
    if (::bind(socket, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
        ::listen(socket, 1) != 0) {
        ::closesocket(socket);
        return;
    }
    listening_ = static_cast<std::intptr_t>(socket);
}

LoopbackPeer::~LoopbackPeer() {
    for (std::intptr_t const socket : {accepted_, listening_}) {
        if (socket != -1) {
            ::closesocket(Native(socket));
        }
    }
}

bool LoopbackPeer::Accept() {
    SOCKET const accepted = ::accept(Native(listening_), nullptr, nullptr);
    if (accepted == INVALID_SOCKET) {
        return false;
    }
    accepted_ = static_cast<std::intptr_t>(accepted);
    return true;
}

void LoopbackPeer::Send(std::string const& bytes) const {
    ::send(Native(accepted_), bytes.data(), static_cast<int>(bytes.size()), 0);
}

void LoopbackPeer::Close() const {
    ::shutdown(Native(accepted_), SD_SEND);
}

}  // namespace qm::test::win
