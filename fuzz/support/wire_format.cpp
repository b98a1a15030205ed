#include "support/wire_format.h"

#include <algorithm>

namespace qm::fuzz::wire {
namespace {

// A body with room for `size` bytes after the frame header, its address block written.
Bytes Body(std::size_t size, std::uint32_t senderId, std::uint32_t destinationId,
           std::uint8_t kind) {
    Bytes body(size, 0);
    for (int i = 0; i < 4; ++i) {
        body[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(senderId >> (24 - 8 * i));
        body[static_cast<std::size_t>(4 + i)] =
            static_cast<std::uint8_t>(destinationId >> (24 - 8 * i));
    }
    body[8] = kind;
    return body;
}

// Offsets below count from the start of the frame, as the protocol's layouts do.
void Put32(Bytes& body, std::size_t frameOffset, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        body[frameOffset - 3 + static_cast<std::size_t>(i)] =
            static_cast<std::uint8_t>(value >> (24 - 8 * i));
    }
}

void PutText(Bytes& body, std::size_t frameOffset, std::size_t width, std::string_view text) {
    std::size_t const length = std::min(text.size(), width);
    std::copy_n(text.begin(), length, body.begin() + static_cast<std::ptrdiff_t>(frameOffset - 3));
}

constexpr std::uint32_t kClientId = 0x0A000001u;

}  // namespace

Bytes Frame(std::uint8_t type, Bytes const& body) {
    std::size_t const length = body.size() + 3;
    Bytes frame{static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length & 0xFF),
                type};
    frame.insert(frame.end(), body.begin(), body.end());
    return frame;
}

Bytes Welcome(std::uint32_t senderId, std::uint32_t assignedId) {
    Bytes body = Body(kWelcomeLength - 3, senderId, assignedId, 0);
    PutText(body, 15, 32, "WELCOME");
    return Frame(kNetworkFrame, body);
}

Bytes ServerAnnouncement(std::uint32_t serverId, std::uint8_t serviceCode) {
    Bytes body = Body(28 - 3, serverId, kClientId, 3);
    body[27 - 3] = serviceCode;
    return Frame(kNetworkFrame, body);
}

Bytes FileDescription(std::uint32_t senderId, std::uint8_t action, std::uint32_t fileToken,
                      std::string_view localPath, std::string_view remoteName, std::uint32_t crc) {
    Bytes body = Body(491 - 3, senderId, kClientId, 1);
    body[15 - 3] = action;
    Put32(body, 19, fileToken);
    PutText(body, 23, 64, localPath);
    PutText(body, 87, 400, remoteName);
    Put32(body, 487, crc);
    return Frame(kUpdateFrame, body);
}

Bytes FileSize(std::string_view fileName, std::uint32_t size) {
    Bytes body = Body(619 - 3, 0x00000100u, kClientId, 5);
    PutText(body, 15, 599, fileName);
    Put32(body, 615, size);
    return Frame(kUpdateFrame, body);
}

Bytes DataChunk(std::uint32_t senderId, std::uint32_t index, std::span<const std::uint8_t> data) {
    Bytes body = Body(21 - 3 + data.size(), senderId, kClientId, 3);
    Put32(body, 15, index);
    body[19 - 3] = static_cast<std::uint8_t>(data.size() >> 8);
    body[20 - 3] = static_cast<std::uint8_t>(data.size() & 0xFF);
    std::copy(data.begin(), data.end(), body.begin() + (21 - 3));
    return Frame(kUpdateFrame, body);
}

Bytes ListSummary(std::uint32_t listCrc, std::string_view listKey, std::string_view nextList,
                  std::uint8_t complete) {
    Bytes body = Body(148 - 3, 0x00000100u, kClientId, 7);
    Put32(body, 15, listCrc);
    PutText(body, 19, 64, listKey);
    PutText(body, 83, 64, nextList);
    body[147 - 3] = complete;
    return Frame(kUpdateFrame, body);
}

std::size_t ClientMessageLength(std::uint8_t type, std::uint8_t kind) {
    if (type == kNetworkFrame) {
        return kind == 12 ? 279 : kind == 2 ? 19 : 0;
    }
    if (type != kUpdateFrame) {
        return 0;
    }
    switch (kind) {
        case 0:
            return 83;  // acknowledgement
        case 2:
            return 419;  // chunk request
        case 4:
            return 415;  // file request
        case 6:
            return 79;  // list request
        default:
            return 0;
    }
}

std::uint32_t ReadBigEndian32(std::span<const std::uint8_t> bytes, std::size_t at) {
    return std::uint32_t{bytes[at]} << 24 | std::uint32_t{bytes[at + 1]} << 16 |
           std::uint32_t{bytes[at + 2]} << 8 | std::uint32_t{bytes[at + 3]};
}

std::uint32_t Crc32(std::span<const std::uint8_t> bytes) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::uint8_t const byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 1u) != 0 ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
        }
    }
    return crc ^ 0xFFFFFFFFu;
}

void Append(Bytes& to, Bytes const& more) {
    to.insert(to.end(), more.begin(), more.end());
}

}  // namespace qm::fuzz::wire
