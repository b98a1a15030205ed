// The updater's side of the conversation for the server's tests: its six messages from client id
// 0x0A000001 to server id 1, from the shared wire oracle, and the server's replies cut into frames.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "net/outbox.h"
#include "support/wire.h"

namespace qm::test {

using Frame = Bytes;
inline constexpr std::uint32_t kClient = 0x0A000001;

inline Frame Login(std::string_view networkWord) {
    return LoginMessage(kClient, 1, networkWord);
}
inline Frame Query(std::uint8_t serviceCode) {
    return ServerQuery(kClient, serviceCode);
}
inline Frame ListRequest(std::string_view name) {
    return ListRequest(kClient, 1, name);
}
inline Frame Ack(std::string_view listName) {
    return AckMessage(kClient, 1, listName, 0);
}
inline Frame FileRequest(std::string_view remoteName) {
    return FileRequest(kClient, 1, remoteName);
}
inline Frame ChunkRequest(std::uint8_t index, std::string_view remoteName) {
    return ChunkRequest(kClient, 1, index, remoteName);
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
