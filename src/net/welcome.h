// The WELCOME handshake that binds the link to a freshly connected socket, and the one send path
// of every outgoing frame.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "net/client_link.h"

namespace qm::net {

inline constexpr unsigned kWelcomeLength = 151;

// Begins the handshake on `socket`: clears the record (ids 0, connected 0, bytesReceived 0,
// recvState -2), stores the socket, and marks the link as awaiting its WELCOME, which
// is the first whole frame that the reassembly delivers. Returns -1 (link reset) when socket is
// -1, else 0. `port` is not used.
int HandleWelcome(ClientLink& link, SocketLayer& layer, int socket, std::string_view host,
                  std::uint16_t port);

// Checks the first whole frame of the connection. Valid when its type byte is 0 and its length is
// exactly 151: peerId and from_me are taken from bytes 3..6 and 7..10 (big-endian), connected
// becomes 1, `host` is copied into hostName (cut to fit), and the result is true. Otherwise the
// link is reset (its socket is not closed, since it is not connected) and the result is false.
// Either way the link no longer awaits.
bool AcceptWelcome(ClientLink& link, SocketLayer& layer, std::span<const std::uint8_t> frame,
                   std::string_view host);

// Sends a frame whose body starts at buffer[3] on the link's socket. 0 without sending while the
// link is not connected; -2 when the socket would block before any byte (the frame is dropped);
// after a failed send the link is reset and its socket closed, and the result is 0.
int LinkSend(ClientLink& link, SocketLayer& layer, FrameBuffer& buffer, int bodyLength,
             std::uint8_t type);

}  // namespace qm::net
