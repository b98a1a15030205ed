#include "e2e/wire.h"

#include <algorithm>
#include <cassert>

namespace qm::e2e {
namespace {

inline constexpr std::uint8_t kNetworkType = 0;
inline constexpr std::uint8_t kUpdateType = 4;

// Builds one frame in an all-zero block of its full length; the header holds that length.
class FrameBuilder {
  public:
    FrameBuilder(std::size_t length, std::uint8_t type) : bytes_(length, 0) {
        Put16(0, static_cast<std::uint16_t>(length));
        bytes_[2] = type;
    }

    // Bytes 3..14: sender, addressee, kind, three zero bytes.
    FrameBuilder& Address(std::uint32_t sender, std::uint32_t destination, std::uint8_t kind) {
        Put32(3, sender);
        Put32(7, destination);
        bytes_[11] = kind;
        return *this;
    }
    FrameBuilder& Byte(std::size_t at, std::uint8_t value) {
        bytes_.at(at) = value;
        return *this;
    }
    FrameBuilder& Put16(std::size_t at, std::uint16_t value) {
        bytes_.at(at) = static_cast<std::uint8_t>(value >> 8);
        bytes_.at(at + 1) = static_cast<std::uint8_t>(value);
        return *this;
    }
    FrameBuilder& Put32(std::size_t at, std::uint32_t value) {
        for (std::size_t i = 0; i < 4; ++i) {
            bytes_.at(at + i) = static_cast<std::uint8_t>(value >> (24 - 8 * i));
        }
        return *this;
    }
    FrameBuilder& Put32LittleEndian(std::size_t at, std::uint32_t value) {
        for (std::size_t i = 0; i < 4; ++i) {
            bytes_.at(at + i) = static_cast<std::uint8_t>(value >> (8 * i));
        }
        return *this;
    }
    // Copies a field block exactly as given; it must have the field's width.
    FrameBuilder& Block(std::size_t at, std::size_t width, std::span<const std::uint8_t> block) {
        assert(block.size() == width);
        std::copy_n(block.begin(), std::min(width, block.size()),
                    bytes_.begin() + static_cast<std::ptrdiff_t>(at));
        return *this;
    }
    FrameBuilder& Text(std::size_t at, std::size_t width, std::string_view text) {
        return Block(at, width, TextField(width, text));
    }

    Bytes Build() const { return bytes_; }

  private:
    Bytes bytes_;
};

}  // namespace

Bytes ToBytes(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

Bytes TextField(std::size_t width, std::string_view text) {
    Bytes field(width, 0);
    std::copy_n(text.begin(), std::min(width, text.size()), field.begin());
    return field;
}

Bytes Welcome(std::uint32_t sender, std::uint32_t assignedId) {
    return WelcomeWith(kNetworkType, 151, sender, assignedId);
}

Bytes WelcomeWith(std::uint8_t type, std::size_t length, std::uint32_t sender,
                  std::uint32_t assignedId) {
    return FrameBuilder(length, type).Put32(3, sender).Put32(7, assignedId).Build();
}

Bytes ServerAnnouncement(std::uint32_t server, std::uint32_t client, std::uint8_t serviceCode) {
    return FrameBuilder(28, kNetworkType).Address(server, client, 3).Byte(27, serviceCode).Build();
}

Bytes FileDescription(FileDescriptionFields const& fields) {
    return FrameBuilder(491, kUpdateType)
        .Address(fields.sender, fields.destination, 1)
        .Byte(15, fields.action)
        .Put32(19, fields.fileToken)
        .Block(23, 64, fields.localPath)
        .Block(87, 400, fields.remoteName)
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
    Bytes frame = FrameBuilder(21 + carried, kUpdateType)
                      .Address(sender, client, 3)
                      .Put32(15, index)
                      .Put16(19, claimed)
                      .Build();
    for (std::size_t i = 21; i < frame.size(); ++i) {
        frame[i] = static_cast<std::uint8_t>('a' + i % 26);
    }
    return frame;
}

Bytes FileSize(std::uint32_t sender, std::uint32_t client, std::string_view name,
               std::uint32_t size) {
    return FrameBuilder(619, kUpdateType)
        .Address(sender, client, 5)
        .Text(15, 600, name)
        .Put32(615, size)
        .Build();
}

Bytes ListSummary(ListSummaryFields const& fields) {
    return FrameBuilder(148, kUpdateType)
        .Address(fields.sender, fields.destination, 7)
        .Put32(15, fields.listCrc)
        .Block(19, 64, fields.listKey)
        .Block(83, 64, fields.nextList)
        .Byte(147, fields.complete)
        .Build();
}

Bytes LoginMessage(std::uint32_t client, std::uint32_t peer) {
    return FrameBuilder(279, kNetworkType)
        .Address(client, peer, 12)
        .Put32LittleEndian(15, peer)
        .Text(19, 32, "FENWARDIX")
        .Text(151, 128, "Uploader")
        .Build();
}

Bytes ServerQuery(std::uint32_t client) {
    return FrameBuilder(19, kNetworkType).Address(client, 0xFFFFFF00u, 2).Byte(15, 4).Build();
}

Bytes AckMessage(std::uint32_t client, std::uint32_t server, std::string_view listName,
                 std::uint32_t fileToken) {
    return FrameBuilder(83, kUpdateType)
        .Address(client, server, 0)
        .Text(15, 64, listName.substr(0, listName.find('\0')))
        .Put32(79, fileToken)
        .Build();
}

Bytes ChunkRequest(std::uint32_t client, std::uint32_t destination, std::uint32_t index,
                   Bytes const& remoteNameBlock) {
    return FrameBuilder(419, kUpdateType)
        .Address(client, destination, 2)
        .Put32(15, index)
        .Block(19, 400, remoteNameBlock)
        .Build();
}

Bytes FileRequest(std::uint32_t client, std::uint32_t server, Bytes const& remoteNameBlock) {
    return FrameBuilder(415, kUpdateType)
        .Address(client, server, 4)
        .Block(15, 400, remoteNameBlock)
        .Build();
}

Bytes ListRequest(std::uint32_t client, std::uint32_t server, Bytes const& listNameBlock) {
    return FrameBuilder(79, kUpdateType)
        .Address(client, server, 6)
        .Block(15, 64, listNameBlock)
        .Build();
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

}  // namespace qm::e2e
