#include "net/frame.h"

#include <algorithm>
#include <cstddef>

namespace qm::net {

namespace {

// Reassembly states below 0; from 0 on, recvState counts the bytes still missing.
constexpr int kFirstLengthByte = -2;
constexpr int kSecondLengthByte = -1;
constexpr std::size_t kLengthFieldSize = 2;

bool ValidFrameLength(unsigned length) {
    return length >= kMinFrameLength && length <= kMaxFrameLength;
}

void TakeFirstLengthByte(ClientLink& link, std::uint8_t byte) {
    link.recvBuffer[0] = byte;
    link.bytesReceived += 1;
    link.recvCount = 0;
    link.recvState = kSecondLengthByte;
}

// Completes the length field; a length that is no frame breaks the stream for good.
void TakeSecondLengthByte(ClientLink& link, FrameSink& sink, std::uint8_t byte) {
    link.recvBuffer[1] = byte;
    link.recvCount = 0;
    link.bytesReceived += 1;
    unsigned const length = link.recvBuffer[0] * 256u + byte;
    if (!ValidFrameLength(length)) {
        link.recvState = kRecvBroken;
        sink.OnFrameError(link, length);
        return;
    }
    link.recvState = static_cast<int>(length - kLengthFieldSize);
}

// Stores as much of the current frame as `bytes` holds and hands the frame on once it is whole.
// Returns the number of bytes taken.
std::size_t TakeFrameBytes(ClientLink& link, FrameSink& sink, std::span<const std::uint8_t> bytes) {
    std::size_t const missing = static_cast<std::size_t>(link.recvState);
    std::size_t const taken = std::min(missing, bytes.size());
    std::size_t const offset = kLengthFieldSize + static_cast<std::size_t>(link.recvCount);
    std::copy_n(bytes.begin(), taken,
                link.recvBuffer.begin() + static_cast<std::ptrdiff_t>(offset));
    link.bytesReceived += static_cast<std::uint32_t>(taken);
    link.recvCount += static_cast<int>(taken);
    link.recvState -= static_cast<int>(taken);
    link.lastReceiveTime = std::time(nullptr);
    if (link.recvState == 0) {
        std::size_t const frameLength = kLengthFieldSize + static_cast<std::size_t>(link.recvCount);
        sink.OnFrame(link, std::span<const std::uint8_t>(link.recvBuffer.data(), frameLength));
        link.recvState = kFirstLengthByte;
    }
    return taken;
}

}  // namespace

FrameHeader ReadFrameHeader(std::span<const std::uint8_t> frame) {
    return FrameHeader{static_cast<std::uint16_t>(frame[0] << 8 | frame[1]), frame[2]};
}

void WriteFrameHeader(std::span<std::uint8_t> frame, FrameHeader header) {
    frame[0] = static_cast<std::uint8_t>(header.length >> 8);
    frame[1] = static_cast<std::uint8_t>(header.length & 0xFFu);
    frame[2] = header.type;
}

std::span<std::uint8_t> AppendFrame(base::ByteBuffer& out, std::uint8_t type, std::size_t length) {
    length = std::clamp<std::size_t>(length, kMinFrameLength, kMaxFrameLength);
    std::size_t const start = out.size();
    out.resize(start + length, 0);
    std::span<std::uint8_t> const frame(out.data() + start, length);
    WriteFrameHeader(frame, FrameHeader{static_cast<std::uint16_t>(length), type});
    return frame;
}

void Windows_Client_ManageDatas(ClientLink& link, FrameSink& sink,
                                std::span<const std::uint8_t> bytes) {
    while (!bytes.empty() && link.recvState != kRecvBroken) {
        switch (link.recvState) {
            case kFirstLengthByte:
                TakeFirstLengthByte(link, bytes.front());
                bytes = bytes.subspan(1);
                break;
            case kSecondLengthByte:
                TakeSecondLengthByte(link, sink, bytes.front());
                bytes = bytes.subspan(1);
                break;
            default:
                bytes = bytes.subspan(TakeFrameBytes(link, sink, bytes));
                break;
        }
    }
}

}  // namespace qm::net
