#include "protocol_frames.h"

#include <algorithm>

namespace qm::bench::frames {
namespace {

// An all-zero frame of `length` bytes with its header and address block written; returns the
// offset of the frame in `out`.
std::size_t StartFrame(std::vector<std::uint8_t>& out, std::size_t length, std::uint8_t type,
                       std::uint32_t from, std::uint32_t to, std::uint8_t messageKind) {
    std::size_t const start = out.size();
    out.resize(start + length, 0);
    out[start] = static_cast<std::uint8_t>(length >> 8);
    out[start + 1] = static_cast<std::uint8_t>(length);
    out[start + 2] = type;
    for (int i = 0; i < 4; ++i) {
        out[start + 3 + static_cast<std::size_t>(i)] =
            static_cast<std::uint8_t>(from >> (24 - 8 * i));
        out[start + 7 + static_cast<std::size_t>(i)] =
            static_cast<std::uint8_t>(to >> (24 - 8 * i));
    }
    out[start + 11] = messageKind;
    return start;
}

void PutBigEndian32(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        out[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
    }
}

void PutText(std::vector<std::uint8_t>& out, std::size_t at, std::size_t width,
             std::string_view text) {
    std::copy_n(text.begin(), std::min(width, text.size()),
                out.begin() + static_cast<std::ptrdiff_t>(at));
}

}  // namespace

void AppendLogin(std::vector<std::uint8_t>& out, std::uint32_t ownId, std::uint32_t peerId) {
    std::size_t const at = StartFrame(out, 279, kNetworkType, ownId, peerId, kind::kLogin);
    for (int i = 0; i < 4; ++i) {  // the peer id echo is little-endian
        out[at + 15 + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(peerId >> (8 * i));
    }
    PutText(out, at + 19, 32, "FENWARDIX");
    PutText(out, at + 151, 128, "Uploader");
}

void AppendServerQuery(std::vector<std::uint8_t>& out, std::uint32_t ownId) {
    std::size_t const at = StartFrame(out, 19, kNetworkType, ownId, kAnyServer, kind::kServerQuery);
    out[at + 15] = kUpdateService;
}

void AppendListRequest(std::vector<std::uint8_t>& out, std::uint32_t ownId, std::uint32_t serverId,
                       std::string_view listName) {
    std::size_t const at = StartFrame(out, 79, kUpdateType, ownId, serverId, kind::kListRequest);
    PutText(out, at + 15, 64, listName);
}

void AppendFileRequest(std::vector<std::uint8_t>& out, std::uint32_t ownId, std::uint32_t serverId,
                       std::string_view remoteName) {
    std::size_t const at = StartFrame(out, 415, kUpdateType, ownId, serverId, kind::kFileRequest);
    PutText(out, at + 15, 400, remoteName);
}

void AppendChunkRequest(std::vector<std::uint8_t>& out, std::uint32_t ownId, std::uint32_t serverId,
                        std::uint32_t index, std::string_view remoteName) {
    std::size_t const at = StartFrame(out, 419, kUpdateType, ownId, serverId, kind::kChunkRequest);
    PutBigEndian32(out, at + 15, index);
    PutText(out, at + 19, 400, remoteName);
}

std::uint32_t ReadBigEndian32(std::span<const std::uint8_t> frame, std::size_t offset) {
    return static_cast<std::uint32_t>(frame[offset]) << 24 |
           static_cast<std::uint32_t>(frame[offset + 1]) << 16 |
           static_cast<std::uint32_t>(frame[offset + 2]) << 8 | frame[offset + 3];
}

std::uint16_t ReadBigEndian16(std::span<const std::uint8_t> frame, std::size_t offset) {
    return static_cast<std::uint16_t>(frame[offset] << 8 | frame[offset + 1]);
}

}  // namespace qm::bench::frames
