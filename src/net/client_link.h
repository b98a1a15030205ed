// The one connection that the updater keeps with the server.
#pragma once

#include <array>
#include <cstdint>
#include <ctime>

#include "net/outbox.h"
#include "net/portwell.h"

namespace qm::net {

inline constexpr std::size_t kFrameBufferSize = 2051;
using FrameBuffer = std::array<std::uint8_t, kFrameBufferSize>;

struct ClientLink {
    std::uint32_t from_me = 0;        // own id, assigned by the server's WELCOME
    std::uint32_t peerId = 0;         // id of the WELCOME's sender
    std::uint32_t bytesReceived = 0;  // bytes consumed by the frame reassembly
    std::time_t lastReceiveTime = 0;  // when frame bytes were last stored
    SocketHandle socket;              // none until the WELCOME handshake binds one
    std::array<char, 263> hostName{};
    int recvState = -2;      // -2 first length byte next, -1 second, n >= 0: n bytes still missing
    int recvCount = 0;       // bytes of the current frame stored after its length bytes
    bool connected = false;  // set by a valid WELCOME
    bool awaitingWelcome = false;  // the next whole frame is checked as the WELCOME
    FrameBuffer recvBuffer{};
    Outbox outbox;  // frames the socket has not taken yet, in order
};

// Closes the link's socket when the link is connected (a socket held by a link that is not
// connected is forgotten, not closed), then clears socket, ids, connected, bytesReceived and the
// frames still waiting to be sent.
// The reassembly state, lastReceiveTime and hostName stay. Returns 0.
int ResetLink(ClientLink& link, SocketLayer& layer);

}  // namespace qm::net
