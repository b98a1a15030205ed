// The updater's side of the conversation for the server's tests: its six messages written out
// byte by byte, and the server's replies taken apart at their offsets.
#pragma once

#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "literal_bytes.h"
#include "net/outbox.h"

namespace qm::test {

using Frame = std::vector<std::uint8_t>;

// From client id 0x0A000001 to server id 1.
inline Frame Login(std::string_view networkWord) {
    return LiteralBytes()
        .Hex("01 17 00  0A 00 00 01  00 00 00 01  0C 00 00 00  01 00 00 00")
        .Text(networkWord, 32)
        .Zeros(100)
        .Text("Uploader", 128)
        .bytes();
}
inline Frame Query(std::uint8_t serviceCode) {
    return LiteralBytes()
        .Hex("00 13 00  0A 00 00 01  FF FF FF 00  02 00 00 00")
        .Byte(serviceCode)
        .Zeros(3)
        .bytes();
}
inline Frame ListRequest(std::string_view name) {
    return LiteralBytes()
        .Hex("00 4F 04  0A 00 00 01  00 00 00 01  06 00 00 00")
        .Text(name, 64)
        .bytes();
}
inline Frame Ack(std::string_view listName) {
    return LiteralBytes()
        .Hex("00 53 04  0A 00 00 01  00 00 00 01  00 00 00 00")
        .Text(listName, 64)
        .Zeros(4)
        .bytes();
}
inline Frame FileRequest(std::string_view remoteName) {
    return LiteralBytes()
        .Hex("01 9F 04  0A 00 00 01  00 00 00 01  04 00 00 00")
        .Text(remoteName, 400)
        .bytes();
}
inline Frame ChunkRequest(std::uint8_t index, std::string_view remoteName) {
    return LiteralBytes()
        .Hex("01 A3 04  0A 00 00 01  00 00 00 01  02 00 00 00  00 00 00")
        .Byte(index)
        .Text(remoteName, 400)
        .bytes();
}

inline std::uint32_t BigEndianAt(Frame const& frame, std::size_t offset) {
    return std::uint32_t{frame.at(offset)} << 24 | std::uint32_t{frame.at(offset + 1)} << 16 |
           std::uint32_t{frame.at(offset + 2)} << 8 | frame.at(offset + 3);
}
inline std::string TextAt(Frame const& frame, std::size_t offset, std::size_t width) {
    std::string text;
    for (std::size_t i = offset; i < offset + width && frame.at(i) != 0; ++i) {
        text += static_cast<char>(frame[i]);
    }
    return text;
}

// Takes what the conversation left in its outbox and cuts it into frames.
class ReplyCollector {
  public:
    std::vector<Frame> Take(net::Outbox& outbox) {
        std::vector<Frame> frames;
        std::span<const std::uint8_t> pending(outbox.frames());
        while (pending.size() >= 3) {
            std::size_t const length = std::size_t{pending[0]} << 8 | pending[1];
            if (length < 3 || pending.size() < length) {
                break;
            }
            frames.emplace_back(pending.begin(), pending.begin() + static_cast<long>(length));
            pending = pending.subspan(length);
        }
        outbox.Clear();
        return frames;
    }
};

}  // namespace qm::test
