#include "update_server/server_messages.h"

#include <algorithm>

namespace qm::server {
namespace {

// Frame and address block, common to every message.
constexpr std::size_t kTypeOffset = 2;
constexpr std::size_t kSourceIdOffset = 3;
constexpr std::size_t kDestinationIdOffset = 7;
constexpr std::size_t kKindOffset = 11;
constexpr std::size_t kAddressBlockEnd = 15;

// One fixed-width field of a layout.
struct Field {
    std::size_t offset;
    std::size_t width;
    constexpr std::size_t end() const { return offset + width; }
};

// Messages the server sends: frame lengths and fields.
constexpr std::size_t kWelcomeLength = 151;
constexpr std::size_t kAnnouncementLength = 28;
constexpr std::size_t kAnnouncedServiceOffset = 27;

constexpr std::size_t kListSummaryLength = 148;
constexpr Field kSummaryChecksum{15, 4};
constexpr Field kSummaryKey{19, kListNameWidth};
constexpr Field kSummaryNext{83, kListNameWidth};
constexpr std::size_t kSummaryCompleteOffset = 147;

constexpr std::size_t kFileDescriptionLength = 491;
constexpr std::size_t kDescriptionActionOffset = 15;
constexpr Field kDescriptionToken{19, 4};
constexpr Field kDescriptionLocalPath{23, kLocalPathWidth};
constexpr Field kDescriptionRemoteName{87, kRemoteNameWidth};
constexpr Field kDescriptionChecksum{487, 4};

constexpr std::size_t kFileSizeLength = 619;
constexpr Field kFileSizeName{15, 600};
constexpr Field kFileSizeValue{615, 4};

constexpr Field kChunkIndex{15, 4};
constexpr Field kChunkLength{19, 2};
constexpr std::size_t kChunkDataOffset = 21;

// Messages the updater sends: frame lengths and fields.
constexpr std::size_t kLoginLength = 279;
constexpr Field kLoginPeerEcho{15, 4};
constexpr Field kLoginNetworkWord{19, 32};
constexpr Field kLoginClientName{151, 128};

constexpr std::size_t kServerQueryLength = 19;
constexpr std::size_t kQueryServiceOffset = 15;

constexpr std::size_t kAckLength = 83;
constexpr Field kAckListName{15, kListNameWidth};
constexpr Field kAckToken{79, 4};

constexpr std::size_t kListRequestLength = 79;
constexpr Field kListRequestName{15, kListNameWidth};

constexpr std::size_t kFileRequestLength = 415;
constexpr Field kFileRequestName{15, kRemoteNameWidth};

constexpr std::size_t kChunkRequestLength = 419;
constexpr Field kChunkRequestIndex{15, 4};
constexpr Field kChunkRequestName{19, kRemoteNameWidth};

void PutBigEndian(std::span<std::uint8_t> bytes, Field field, std::uint32_t value) {
    for (std::size_t i = 0; i < field.width; ++i) {
        auto const shift = 8 * (field.width - 1 - i);
        bytes[field.offset + i] = static_cast<std::uint8_t>(value >> shift);
    }
}

std::uint32_t GetBigEndian(std::span<const std::uint8_t> bytes, Field field) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < field.width; ++i) {
        value = value << 8 | bytes[field.offset + i];
    }
    return value;
}

std::uint32_t GetLittleEndian(std::span<const std::uint8_t> bytes, Field field) {
    std::uint32_t value = 0;
    for (std::size_t i = field.width; i > 0; --i) {
        value = value << 8 | bytes[field.offset + i - 1];
    }
    return value;
}

// Text copy: up to `limit` characters of `text`; the rest of the field stays zero.
void PutText(std::span<std::uint8_t> bytes, Field field, std::string_view text, std::size_t limit) {
    std::size_t const count = std::min({text.size(), field.width, limit});
    std::copy_n(text.begin(), count, bytes.begin() + static_cast<std::ptrdiff_t>(field.offset));
}

void PutText(std::span<std::uint8_t> bytes, Field field, std::string_view text) {
    PutText(bytes, field, text, field.width);
}

std::string_view GetText(std::span<const std::uint8_t> bytes, Field field) {
    auto const begin = bytes.begin() + static_cast<std::ptrdiff_t>(field.offset);
    auto const end = std::find(begin, begin + static_cast<std::ptrdiff_t>(field.width), 0);
    return std::string_view(reinterpret_cast<char const*>(&*begin),
                            static_cast<std::size_t>(end - begin));
}

std::span<std::uint8_t> BeginMessage(OutgoingFrame& frame, std::uint8_t type, std::size_t length,
                                     Addressing to, std::uint8_t messageKind) {
    std::span<std::uint8_t> const bytes = frame.Begin(type, length);
    PutBigEndian(bytes, Field{kSourceIdOffset, 4}, to.sourceId);
    PutBigEndian(bytes, Field{kDestinationIdOffset, 4}, to.destinationId);
    bytes[kKindOffset] = messageKind;
    return bytes;
}

}  // namespace

std::span<std::uint8_t> OutgoingFrame::Begin(std::uint8_t type, std::size_t length) {
    length_ = std::min(length, bytes_.size());
    std::fill_n(bytes_.begin(), length_, 0);
    bytes_[0] = static_cast<std::uint8_t>(length_ >> 8);
    bytes_[1] = static_cast<std::uint8_t>(length_ & 0xFFu);
    bytes_[kTypeOffset] = type;
    return std::span<std::uint8_t>(bytes_.data(), length_);
}

void WriteWelcome(OutgoingFrame& frame, Addressing to) {
    std::span<std::uint8_t> const bytes = frame.Begin(kNetworkFrame, kWelcomeLength);
    PutBigEndian(bytes, Field{kSourceIdOffset, 4}, to.sourceId);
    PutBigEndian(bytes, Field{kDestinationIdOffset, 4}, to.destinationId);
}

void WriteServerAnnouncement(OutgoingFrame& frame, Addressing to, std::uint8_t serviceCode) {
    std::span<std::uint8_t> const bytes =
        BeginMessage(frame, kNetworkFrame, kAnnouncementLength, to, kind::ServerAnnouncement);
    bytes[kAnnouncedServiceOffset] = serviceCode;
}

void WriteListSummary(OutgoingFrame& frame, Addressing to, std::uint32_t listChecksum,
                      std::string_view listKey, std::string_view nextList, bool complete) {
    std::span<std::uint8_t> const bytes =
        BeginMessage(frame, kUpdateFrame, kListSummaryLength, to, kind::ListSummary);
    PutBigEndian(bytes, kSummaryChecksum, listChecksum);
    PutText(bytes, kSummaryKey, listKey);
    PutText(bytes, kSummaryNext, nextList);
    bytes[kSummaryCompleteOffset] = complete ? 1 : 0;
}

void WriteFileDescription(OutgoingFrame& frame, Addressing to, std::uint8_t actionCode,
                          std::uint32_t fileToken, std::string_view localPath,
                          std::string_view remoteName, std::uint32_t checksum) {
    std::span<std::uint8_t> const bytes =
        BeginMessage(frame, kUpdateFrame, kFileDescriptionLength, to, kind::FileDescription);
    bytes[kDescriptionActionOffset] = actionCode;
    PutBigEndian(bytes, kDescriptionToken, fileToken);
    PutText(bytes, kDescriptionLocalPath, localPath);
    PutText(bytes, kDescriptionRemoteName, remoteName);
    PutBigEndian(bytes, kDescriptionChecksum, checksum);
}

void WriteFileSize(OutgoingFrame& frame, Addressing to, std::string_view fileName,
                   std::uint32_t size) {
    std::span<std::uint8_t> const bytes =
        BeginMessage(frame, kUpdateFrame, kFileSizeLength, to, kind::FileSize);
    // The reader expects the name to end inside its field.
    PutText(bytes, kFileSizeName, fileName, kFileSizeName.width - 1);
    PutBigEndian(bytes, kFileSizeValue, size);
}

void WriteDataChunk(OutgoingFrame& frame, Addressing to, std::uint32_t chunkIndex,
                    std::span<const std::uint8_t> data) {
    std::span<const std::uint8_t> const payload = data.first(std::min(data.size(), kChunkDataMax));
    std::span<std::uint8_t> const bytes =
        BeginMessage(frame, kUpdateFrame, kChunkDataOffset + payload.size(), to, kind::DataChunk);
    PutBigEndian(bytes, kChunkIndex, chunkIndex);
    PutBigEndian(bytes, kChunkLength, static_cast<std::uint32_t>(payload.size()));
    std::copy(payload.begin(), payload.end(), bytes.begin() + kChunkDataOffset);
}

std::optional<MessageHead> ReadMessageHead(std::span<const std::uint8_t> frame) {
    if (frame.size() < kAddressBlockEnd) {
        return std::nullopt;
    }
    return MessageHead{frame[kTypeOffset], GetBigEndian(frame, Field{kSourceIdOffset, 4}),
                       frame[kKindOffset]};
}

std::optional<LoginMessage> ReadLoginMessage(std::span<const std::uint8_t> frame) {
    if (frame.size() < kLoginLength) {
        return std::nullopt;
    }
    return LoginMessage{GetLittleEndian(frame, kLoginPeerEcho), GetText(frame, kLoginNetworkWord),
                        GetText(frame, kLoginClientName)};
}

std::optional<ServerQuery> ReadServerQuery(std::span<const std::uint8_t> frame) {
    if (frame.size() < kServerQueryLength) {
        return std::nullopt;
    }
    return ServerQuery{frame[kQueryServiceOffset]};
}

std::optional<AckMessage> ReadAckMessage(std::span<const std::uint8_t> frame) {
    if (frame.size() < kAckLength) {
        return std::nullopt;
    }
    return AckMessage{GetText(frame, kAckListName), GetBigEndian(frame, kAckToken)};
}

std::optional<ListRequest> ReadListRequest(std::span<const std::uint8_t> frame) {
    if (frame.size() < kListRequestLength) {
        return std::nullopt;
    }
    return ListRequest{GetText(frame, kListRequestName)};
}

std::optional<FileRequest> ReadFileRequest(std::span<const std::uint8_t> frame) {
    if (frame.size() < kFileRequestLength) {
        return std::nullopt;
    }
    return FileRequest{GetText(frame, kFileRequestName)};
}

std::optional<ChunkRequest> ReadChunkRequest(std::span<const std::uint8_t> frame) {
    if (frame.size() < kChunkRequestLength) {
        return std::nullopt;
    }
    return ChunkRequest{GetBigEndian(frame, kChunkRequestIndex), GetText(frame, kChunkRequestName)};
}

}  // namespace qm::server
