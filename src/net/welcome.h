// The WELCOME handshake that binds the link to a freshly connected socket, and the one send path
// of every outgoing frame.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "base/aligned_buffer.h"
#include "net/client_link.h"

namespace qm::net {

// A WELCOME is a type-0 frame of 151 bytes: the sender's id at bytes 3..6 and the id it assigns
// to the client at 7..10, both big-endian; the rest is not examined.
inline constexpr unsigned kWelcomeLength = 151;

// Appends a WELCOME from `senderId` that assigns `assignedId` (the server's side).
void AppendWelcome(base::ByteBuffer& out, std::uint32_t senderId, std::uint32_t assignedId);

// Begins the handshake on `socket`: clears the record (ids 0, connected 0, bytesReceived 0,
// recvState -2), stores the socket, and marks the link as awaiting its WELCOME, which is the
// first whole frame that the reassembly delivers. Returns -1 (link reset) when there is no socket,
// else 0. `port` is not used.
int HandleWelcome(ClientLink& link, SocketLayer& layer, SocketHandle socket, std::string_view host,
                  std::uint16_t port);

// Checks the first whole frame of the connection. Valid when its type byte is 0 and its length is
// exactly 151: peerId and from_me are taken from bytes 3..6 and 7..10 (big-endian), connected
// becomes 1, `host` is copied into hostName (cut to fit), and the result is true. Otherwise the
// link is reset (its socket is not closed, since it is not connected) and the result is false.
// Either way the link no longer awaits.
bool AcceptWelcome(ClientLink& link, SocketLayer& layer, std::span<const std::uint8_t> frame,
                   std::string_view host);

// Sends whole frames on the link's socket, behind any the socket has not taken yet. 0 when all
// went out, and 0 without sending while the link is not connected; -2 when the socket would
// block: what it did not take waits in the link's outbox and goes out, in order, from
// FlushLink once the socket is writable; -1 when the send failed, after which the link is reset
// and its socket closed: the caller must end the run as on a lost connection.
int LinkSend(ClientLink& link, SocketLayer& layer, std::span<const std::uint8_t> frames);

// Sends what waits in the link's outbox; the results of LinkSend.
int FlushLink(ClientLink& link, SocketLayer& layer);

}  // namespace qm::net
