#include "net/welcome.h"

#include <algorithm>

#include "base/byte_order.h"
#include "net/frame.h"

namespace qm::net {

namespace {

// Where the WELCOME carries its two ids, both big-endian.
constexpr std::size_t kSenderIdOffset = 3;
constexpr std::size_t kAssignedIdOffset = 7;

bool IsWelcome(std::span<const std::uint8_t> frame) {
    if (frame.size() != kWelcomeLength) {
        return false;
    }
    FrameHeader const header = ReadFrameHeader(frame);
    return header.length == kWelcomeLength && header.type == 0;
}

void StoreHostName(ClientLink& link, std::string_view host) {
    link.hostName.fill('\0');
    std::size_t const kept = std::min(host.size(), link.hostName.size() - 1);
    std::copy_n(host.begin(), kept, link.hostName.begin());
}

}  // namespace

void AppendWelcome(base::ByteBuffer& out, std::uint32_t senderId, std::uint32_t assignedId) {
    std::span<std::uint8_t> const frame = AppendFrame(out, 0, kWelcomeLength);
    base::WriteBigEndian32(frame, kSenderIdOffset, senderId);
    base::WriteBigEndian32(frame, kAssignedIdOffset, assignedId);
}

int HandleWelcome(ClientLink& link, SocketLayer& layer, SocketHandle socket,
                  std::string_view /*host*/, std::uint16_t /*port*/) {
    link.from_me = 0;
    link.peerId = 0;
    link.connected = false;
    link.socket = kNoSocket;
    link.bytesReceived = 0;
    link.recvState = -2;
    link.socket = socket;
    if (!socket.valid()) {
        link.awaitingWelcome = false;
        ResetLink(link, layer);
        return -1;
    }
    link.awaitingWelcome = true;
    return 0;
}

bool AcceptWelcome(ClientLink& link, SocketLayer& layer, std::span<const std::uint8_t> frame,
                   std::string_view host) {
    link.awaitingWelcome = false;
    if (!IsWelcome(frame)) {
        // Not connected yet, so the socket stays open: it is forgotten, not closed.
        ResetLink(link, layer);
        return false;
    }
    link.peerId = base::ReadBigEndian32(frame, kSenderIdOffset);
    link.from_me = base::ReadBigEndian32(frame, kAssignedIdOffset);
    link.connected = true;
    StoreHostName(link, host);
    return true;
}

int LinkSend(ClientLink& link, SocketLayer& layer, std::span<const std::uint8_t> frames) {
    if (!link.connected) {
        return 0;
    }
    link.outbox.frames().insert(link.outbox.frames().end(), frames.begin(), frames.end());
    return FlushLink(link, layer);
}

int FlushLink(ClientLink& link, SocketLayer& layer) {
    if (!link.connected) {
        return 0;
    }
    switch (link.outbox.SendTo(layer, link.socket)) {
        case Outbox::Flush::Drained:
            return 0;
        case Outbox::Flush::Blocked:
            return -2;
        case Outbox::Flush::Failed:
            break;
    }
    ResetLink(link, layer);
    return -1;
}

}  // namespace qm::net
