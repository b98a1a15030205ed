#include "support/wire.h"

#include "support/address_text.h"

#include <algorithm>
#include <array>

namespace qm::test {

Bytes ToBytes(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

Bytes Joined(std::initializer_list<Bytes> frames) {
    Bytes stream;
    for (Bytes const& frame : frames) {
        Append(stream, frame);
    }
    return stream;
}

void Append(Bytes& to, std::span<const std::uint8_t> more) {
    to.insert(to.end(), more.begin(), more.end());
}

Bytes TextField(std::size_t width, std::string_view text) {
    Bytes field(width, 0);
    std::copy_n(text.begin(), std::min(width, text.size()), field.begin());
    return field;
}

FrameBuilder::FrameBuilder(std::size_t length, std::uint8_t type) : bytes_(length, 0) {
    Put16(0, static_cast<std::uint16_t>(length));
    bytes_[2] = type;
}

FrameBuilder& FrameBuilder::Address(std::uint32_t sender, std::uint32_t destination,
                                    std::uint8_t kind) {
    return Put32(3, sender).Put32(7, destination).Byte(11, kind);
}

FrameBuilder& FrameBuilder::Byte(std::size_t at, std::uint8_t value) {
    bytes_.at(at) = value;
    return *this;
}

FrameBuilder& FrameBuilder::Put16(std::size_t at, std::uint16_t value) {
    bytes_.at(at) = static_cast<std::uint8_t>(value >> 8);
    bytes_.at(at + 1) = static_cast<std::uint8_t>(value);
    return *this;
}

FrameBuilder& FrameBuilder::Put32(std::size_t at, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i) {
        bytes_.at(at + i) = static_cast<std::uint8_t>(value >> (24 - 8 * i));
    }
    return *this;
}

FrameBuilder& FrameBuilder::Put32LittleEndian(std::size_t at, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i) {
        bytes_.at(at + i) = static_cast<std::uint8_t>(value >> (8 * i));
    }
    return *this;
}

FrameBuilder& FrameBuilder::Block(std::size_t at, std::size_t width,
                                  std::span<const std::uint8_t> block) {
    std::size_t const count = std::min({width, block.size(), bytes_.size() - at});
    std::copy_n(block.begin(), count, bytes_.begin() + static_cast<std::ptrdiff_t>(at));
    return *this;
}

FrameBuilder& FrameBuilder::Text(std::size_t at, std::size_t width, std::string_view text) {
    return Block(at, width, ToBytes(text));
}

namespace {

// A message frame of `length` bytes with its address block filled in.
FrameBuilder Message(std::size_t length, std::uint8_t type, std::uint32_t sender,
                     std::uint32_t destination, std::uint8_t kind) {
    FrameBuilder frame(length, type);
    frame.Address(sender, destination, kind);
    return frame;
}

}  // namespace

Bytes Welcome(std::uint32_t sender, std::uint32_t assignedId, std::string_view text) {
    return FrameBuilder(151, kNetworkType)
        .Put32(3, sender)
        .Put32(7, assignedId)
        .Text(15, 32, text)
        .Build();
}

Bytes WelcomeWith(std::uint8_t type, std::size_t length, std::uint32_t sender,
                  std::uint32_t assignedId) {
    return FrameBuilder(length, type).Put32(3, sender).Put32(7, assignedId).Build();
}

Bytes ServerAnnouncement(std::uint32_t server, std::uint32_t client, std::uint8_t serviceCode) {
    return Message(28, kNetworkType, server, client, 3).Byte(27, serviceCode).Build();
}

Bytes AnnouncementWithCapabilities(std::uint32_t server, std::uint32_t client,
                                   std::uint32_t capabilities, std::uint8_t version) {
    return Message(38, kNetworkType, server, client, 3)
        .Byte(27, 4)
        .Text(28, 4, "QMCP")
        .Byte(32, version)
        .Put32(34, capabilities)
        .Build();
}

Bytes Entry(EntryFields const& fields) {
    Bytes entry{fields.action};
    for (int shift = 24; shift >= 0; shift -= 8) {
        entry.push_back(static_cast<std::uint8_t>(fields.crc >> shift));
    }
    for (int shift = 24; shift >= 0; shift -= 8) {
        entry.push_back(static_cast<std::uint8_t>(fields.size >> shift));
    }
    entry.push_back(static_cast<std::uint8_t>(fields.localPath.size()));
    Append(entry, ToBytes(fields.localPath));
    entry.push_back(static_cast<std::uint8_t>(fields.remoteName.size() >> 8));
    entry.push_back(static_cast<std::uint8_t>(fields.remoteName.size()));
    Append(entry, ToBytes(fields.remoteName));
    entry.push_back(static_cast<std::uint8_t>(fields.extra.size()));
    Append(entry, fields.extra);
    return entry;
}

Bytes ListEntries(std::uint32_t sender, std::uint32_t client, std::uint32_t firstEntry,
                  std::uint16_t count, bool endsList, Bytes const& entries) {
    return Message(23 + entries.size(), kUpdateType, sender, client, 9)
        .Put32(15, firstEntry)
        .Put16(19, count)
        .Byte(21, endsList ? 1 : 0)
        .Block(23, entries.size(), entries)
        .Build();
}

Bytes FileDescription(FileDescriptionFields const& fields) {
    return Message(491, kUpdateType, fields.sender, fields.destination, 1)
        .Byte(15, fields.action)
        .Put32(19, fields.fileToken)
        .Text(23, 64, fields.localPath)
        .Text(87, 400, fields.remoteName)
        .Put32(487, fields.crc)
        .Build();
}

Bytes DataChunk(std::uint32_t sender, std::uint32_t client, std::uint32_t index,
                std::span<const std::uint8_t> data) {
    Bytes frame = DataChunkClaiming(sender, client, index, static_cast<std::uint16_t>(data.size()),
                                    data.size());
    std::copy(data.begin(), data.end(), frame.begin() + 21);
    return frame;
}

Bytes DataChunkClaiming(std::uint32_t sender, std::uint32_t client, std::uint32_t index,
                        std::uint16_t claimed, std::size_t carried) {
    Bytes frame = Message(21 + carried, kUpdateType, sender, client, 3)
                      .Put32(15, index)
                      .Put16(19, claimed)
                      .Build();
    for (std::size_t i = 21; i < frame.size(); ++i) {
        frame[i] = static_cast<std::uint8_t>('a' + i % 26);
    }
    return frame;
}

Bytes FileSize(std::uint32_t sender, std::uint32_t client, std::string_view name,
               std::uint32_t size, std::size_t nameWidth) {
    return Message(619, kUpdateType, sender, client, 5)
        .Text(15, std::min<std::size_t>(nameWidth, 600), name)
        .Put32(615, size)
        .Build();
}

Bytes ListSummary(std::uint32_t sender, std::uint32_t destination, std::uint32_t listCrc,
                  std::string_view listKey, std::string_view nextList, std::uint8_t complete) {
    return Message(148, kUpdateType, sender, destination, 7)
        .Put32(15, listCrc)
        .Text(19, 64, listKey)
        .Text(83, 64, nextList)
        .Byte(147, complete)
        .Build();
}

Bytes LoginMessage(std::uint32_t client, std::uint32_t peer, std::string_view network,
                   std::string_view clientName) {
    return Message(279, kNetworkType, client, peer, 12)
        .Put32LittleEndian(15, peer)
        .Text(19, 32, network)
        .Text(151, 128, clientName)
        .Build();
}

Bytes ServerQuery(std::uint32_t client, std::uint8_t serviceCode) {
    return Message(19, kNetworkType, client, kAnyServer, 2).Byte(15, serviceCode).Build();
}

Bytes AckMessage(std::uint32_t client, std::uint32_t server, std::string_view listName,
                 std::uint32_t fileToken) {
    return Message(83, kUpdateType, client, server, 0)
        .Text(15, 64, listName.substr(0, listName.find('\0')))
        .Put32(79, fileToken)
        .Build();
}

Bytes ChunkRequest(std::uint32_t client, std::uint32_t destination, std::uint32_t index,
                   std::string_view remoteName) {
    return Message(419, kUpdateType, client, destination, 2)
        .Put32(15, index)
        .Text(19, 400, remoteName)
        .Build();
}

Bytes FileRequest(std::uint32_t client, std::uint32_t server, std::string_view remoteName) {
    return Message(415, kUpdateType, client, server, 4).Text(15, 400, remoteName).Build();
}

Bytes ListRequest(std::uint32_t client, std::uint32_t server, std::string_view listName) {
    return Message(79, kUpdateType, client, server, 6).Text(15, 64, listName).Build();
}

Bytes EntriesRequest(std::uint32_t client, std::uint32_t server, std::string_view listName,
                     std::uint32_t firstEntry, std::uint32_t count) {
    return Message(87, kUpdateType, client, server, 8)
        .Text(15, 64, listName)
        .Put32(79, firstEntry)
        .Put32(83, count)
        .Build();
}

Bytes StreamRequest(std::uint32_t client, std::uint32_t server, std::uint32_t firstChunk,
                    std::string_view remoteName) {
    return Message(419, kUpdateType, client, server, 10)
        .Put32(15, firstChunk)
        .Text(19, 400, remoteName)
        .Build();
}

std::span<const std::uint8_t> ChunkOf(std::span<const std::uint8_t> content, std::size_t index) {
    std::size_t const at = std::min(index * kChunkSize, content.size());
    return content.subspan(at, std::min(kChunkSize, content.size() - at));
}

Bytes Resized(Bytes frame, std::size_t length) {
    frame.resize(length, 0);
    if (length >= 2) {
        frame[0] = static_cast<std::uint8_t>(length >> 8);
        frame[1] = static_cast<std::uint8_t>(length);
    }
    return frame;
}

std::uint16_t Read16(std::span<const std::uint8_t> frame, std::size_t at) {
    return static_cast<std::uint16_t>(frame[at] << 8 | frame[at + 1]);
}

std::uint32_t Read32(std::span<const std::uint8_t> frame, std::size_t at) {
    return std::uint32_t{frame[at]} << 24 | std::uint32_t{frame[at + 1]} << 16 |
           std::uint32_t{frame[at + 2]} << 8 | std::uint32_t{frame[at + 3]};
}

std::string TextAt(std::span<const std::uint8_t> frame, std::size_t at, std::size_t width) {
    std::string text;
    for (std::size_t i = at; i < std::min(frame.size(), at + width) && frame[i] != 0; ++i) {
        text += static_cast<char>(frame[i]);
    }
    return text;
}

std::size_t ClientMessageLength(std::uint8_t type, std::uint8_t kind) {
    if (type == kNetworkType) {
        return kind == 12 ? 279 : kind == 2 ? 19 : 0;
    }
    if (type != kUpdateType) {
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
        case 8:
            return 87;  // entries request
        case 10:
            return 419;  // stream request
        default:
            return 0;
    }
}

FrameStream SplitFrames(std::span<const std::uint8_t> stream) {
    FrameStream result;
    std::size_t at = 0;
    while (stream.size() - at >= 2) {
        unsigned const length = Read16(stream, at);
        if (length < 3 || length > kMaxFrame) {
            result.brokenLength = length;
            result.consumed = at + 2;
            return result;
        }
        if (stream.size() - at < length) {
            break;
        }
        result.frames.push_back(stream.subspan(at, length));
        at += length;
    }
    result.consumed = stream.size();
    return result;
}

std::string DescribeFrame(std::span<const std::uint8_t> frame) {
    std::string text = std::to_string(frame.size()) + " bytes";
    if (frame.size() > 2) {
        text += ", type " + std::to_string(frame[2]);
    }
    if (frame.size() > 11) {
        text += " kind " + std::to_string(frame[11]);
    }
    return text;
}

namespace {

constexpr std::array<std::uint8_t, 12> kProxySignature = {0x0D, 0x0A, 0x0D, 0x0A, 0x00, 0x0D,
                                                          0x0A, 0x51, 0x55, 0x49, 0x54, 0x0A};

Bytes ProxyStart(std::uint8_t command, std::uint8_t family, std::size_t rest) {
    Bytes header(kProxySignature.begin(), kProxySignature.end());
    header.push_back(command);
    header.push_back(family);
    header.push_back(static_cast<std::uint8_t>(rest >> 8));
    header.push_back(static_cast<std::uint8_t>(rest));
    return header;
}

void AppendPort(Bytes& to, std::uint16_t port) {
    to.push_back(static_cast<std::uint8_t>(port >> 8));
    to.push_back(static_cast<std::uint8_t>(port));
}

}  // namespace

Bytes ProxyV2(ProxyV2Fields const& fields) {
    Bytes rest = AddressBytes(fields.source);
    Append(rest, AddressBytes(fields.destination));
    AppendPort(rest, fields.sourcePort);
    AppendPort(rest, fields.destinationPort);
    std::uint8_t const family = rest.size() == 12 ? 0x11 : 0x21;
    Append(rest, fields.trailing);
    Bytes header = ProxyStart(0x21, family, rest.size());
    Append(header, rest);
    return header;
}

Bytes ProxyV2Local() {
    return ProxyStart(0x20, 0x00, 0);
}

}  // namespace qm::test
