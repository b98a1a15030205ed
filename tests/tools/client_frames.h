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
#include "update_server/outbox.h"

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

// Sends an outbox through a socket pair and cuts what arrives into frames.
class ReplyCollector {
  public:
    ReplyCollector() { ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, ends_); }
    ~ReplyCollector() {
        ::close(ends_[0]);
        ::close(ends_[1]);
    }
    ReplyCollector(ReplyCollector const&) = delete;
    ReplyCollector& operator=(ReplyCollector const&) = delete;

    std::vector<Frame> Take(server::Outbox& outbox) {
        outbox.SendTo(ends_[0]);
        std::uint8_t buffer[65536];
        ssize_t count = 0;
        while ((count = ::recv(ends_[1], buffer, sizeof buffer, 0)) > 0) {
            stream_.insert(stream_.end(), buffer, buffer + count);
        }
        std::vector<Frame> frames;
        while (stream_.size() >= 2) {
            std::size_t const length = std::size_t{stream_[0]} << 8 | stream_[1];
            if (length < 3 || stream_.size() < length) {
                break;
            }
            frames.emplace_back(stream_.begin(), stream_.begin() + static_cast<long>(length));
            stream_.erase(stream_.begin(), stream_.begin() + static_cast<long>(length));
        }
        return frames;
    }

  private:
    int ends_[2] = {-1, -1};
    std::vector<std::uint8_t> stream_;
};

}  // namespace qm::test
