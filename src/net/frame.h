// Frames: a 3-byte header (16-bit big-endian length of the whole frame, header included, then a
// type byte) followed by the body. Sending, and reassembly of the received byte stream.
#pragma once

#include <cstdint>
#include <span>

#include "net/client_link.h"

namespace qm::net {

inline constexpr int kFrameHeaderSize = 3;
inline constexpr int kMaxBodyLength = static_cast<int>(kFrameBufferSize) - kFrameHeaderSize;
inline constexpr unsigned kMinFrameLength = 3;
inline constexpr unsigned kMaxFrameLength = kFrameBufferSize;

// Marks a link whose byte stream broke (a length outside 3..2051): later bytes are dropped.
inline constexpr int kRecvBroken = -3;

struct FrameHeader {
    std::uint16_t length;  // whole frame, header included
    std::uint8_t type;
};

// Reads the header at the start of a frame.
FrameHeader ReadFrameHeader(std::span<const std::uint8_t> frame);

// Who receives the reassembled frames of a link.
class FrameSink {
  public:
    virtual ~FrameSink() = default;
    // One complete frame, from its first length byte; valid until the call returns.
    virtual void OnFrame(ClientLink& link, std::span<const std::uint8_t> frame) = 0;
    // A length field outside 3..2051 arrived; the link's stream is broken.
    virtual void OnFrameError(ClientLink& link, unsigned length) = 0;
};

// Writes the header into buffer[0..2] (length = bodyLength + 3) and sends bodyLength + 3 bytes
// with SendAll, whose result it returns. bodyLength must be 0..2048.
int SendFrame(SocketLayer& layer, int socket, FrameBuffer& buffer, int bodyLength,
              std::uint8_t type);

// Consumes all of `bytes` into the link's reassembly state and hands every complete frame to
// `sink` in arrival order; recvState returns to -2 only after OnFrame has returned.
void Windows_Client_ManageDatas(ClientLink& link, FrameSink& sink,
                                std::span<const std::uint8_t> bytes);

}  // namespace qm::net
