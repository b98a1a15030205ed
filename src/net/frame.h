// Frames: a 3-byte header (16-bit big-endian length of the whole frame, header included, then a
// type byte) followed by the body. Sending, and reassembly of the received byte stream.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "base/aligned_buffer.h"
#include "net/client_link.h"

namespace qm::net {

inline constexpr int kFrameHeaderSize = 3;
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

// Writes the header of a frame of `length` bytes (header included) into frame[0..2].
void WriteFrameHeader(std::span<std::uint8_t> frame, FrameHeader header);

// Appends a new frame of `length` bytes (3 to 2051, header included) to `out`: its header, then
// zero bytes for its writer to fill. The view is valid until `out` grows again.
std::span<std::uint8_t> AppendFrame(base::ByteBuffer& out, std::uint8_t type, std::size_t length);

// Consumes all of `bytes` into the link's reassembly state and hands every complete frame to
// `sink` in arrival order; recvState returns to -2 only after OnFrame has returned.
void Windows_Client_ManageDatas(ClientLink& link, FrameSink& sink,
                                std::span<const std::uint8_t> bytes);

}  // namespace qm::net
