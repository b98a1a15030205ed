#include "update_frames.h"

#include <algorithm>

namespace qm::app::qt::test {
namespace {

constexpr std::uint8_t kNetworkFrame = 0;
constexpr std::uint8_t kUpdateFrame = 4;

// A zeroed frame of `length` bytes with its header and address block.
Bytes Frame(std::size_t length, std::uint8_t type, std::uint32_t source, std::uint32_t destination,
            std::uint8_t kind) {
    Bytes frame(length, 0);
    frame[0] = static_cast<std::uint8_t>(length >> 8);
    frame[1] = static_cast<std::uint8_t>(length);
    frame[2] = type;
    for (int i = 0; i < 4; ++i) {
        frame[3 + i] = static_cast<std::uint8_t>(source >> (24 - 8 * i));
        frame[7 + i] = static_cast<std::uint8_t>(destination >> (24 - 8 * i));
    }
    frame[11] = kind;
    return frame;
}

void PutWord(Bytes& frame, std::size_t offset, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i) {
        frame[offset + i] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
    }
}

void PutText(Bytes& frame, std::size_t offset, std::size_t width, std::string const& text) {
    std::copy_n(text.begin(), std::min(text.size(), width - 1), frame.begin() + offset);
}

}  // namespace

Bytes Welcome() {
    return Frame(151, kNetworkFrame, kPeerId, kClientId, 0);
}

Bytes ServerAnnouncement() {
    Bytes frame = Frame(28, kNetworkFrame, kServerId, kClientId, 3);
    frame[27] = 4;
    return frame;
}

Bytes FileDescription(std::uint8_t action, std::uint32_t token, std::string const& localPath,
                      std::string const& remoteName, std::uint32_t crc) {
    Bytes frame = Frame(491, kUpdateFrame, kServerId, kClientId, 1);
    frame[15] = action;
    PutWord(frame, 19, token);
    PutText(frame, 23, 64, localPath);
    PutText(frame, 87, 400, remoteName);
    PutWord(frame, 487, crc);
    return frame;
}

Bytes FileSize(std::string const& name, std::uint32_t size) {
    Bytes frame = Frame(619, kUpdateFrame, kServerId, kClientId, 5);
    PutText(frame, 15, 600, name);
    PutWord(frame, 615, size);
    return frame;
}

Bytes DataChunk(std::uint32_t index, Bytes const& data) {
    Bytes frame = Frame(21 + data.size(), kUpdateFrame, kServerId, kClientId, 3);
    PutWord(frame, 15, index);
    frame[19] = static_cast<std::uint8_t>(data.size() >> 8);
    frame[20] = static_cast<std::uint8_t>(data.size());
    std::copy(data.begin(), data.end(), frame.begin() + 21);
    return frame;
}

Bytes ListSummary(std::uint32_t crc, std::string const& key, std::string const& next,
                  bool complete) {
    Bytes frame = Frame(148, kUpdateFrame, kServerId, kClientId, 7);
    PutWord(frame, 15, crc);
    PutText(frame, 19, 64, key);
    PutText(frame, 83, 64, next);
    frame[147] = complete ? 1 : 0;
    return frame;
}

std::uint8_t FrameType(Bytes const& frame) {
    return frame.size() > 2 ? frame[2] : 0xFF;
}

std::uint8_t Kind(Bytes const& frame) {
    return frame.size() > 11 ? frame[11] : 0xFF;
}

std::uint32_t Word(Bytes const& frame, std::size_t offset) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4 && offset + i < frame.size(); ++i) {
        value = (value << 8) | frame[offset + i];
    }
    return value;
}

std::string Text(Bytes const& frame, std::size_t offset, std::size_t width) {
    std::string text;
    for (std::size_t i = offset; i < offset + width && i < frame.size() && frame[i] != 0; ++i) {
        text.push_back(static_cast<char>(frame[i]));
    }
    return text;
}

std::uint32_t Crc32(Bytes const& data) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::uint8_t byte : data) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
        }
    }
    return ~crc;
}

}  // namespace qm::app::qt::test
