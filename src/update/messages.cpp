// The byte layouts of the update protocol's messages. Every offset of every message is named
// here and nowhere else; the session works only with the builders and readers below.
#include "update/messages.h"

#include <algorithm>

#include "net/welcome.h"

namespace qm::update {
namespace {

// Address block, at the start of every message body.
inline constexpr std::size_t kSourceIdAt = 3;
inline constexpr std::size_t kDestinationIdAt = 7;
inline constexpr std::size_t kKindAt = 11;
inline constexpr std::size_t kFrameTypeAt = 2;

// LoginMessage.
inline constexpr std::size_t kLoginPeerEchoAt = 15;
inline constexpr std::size_t kLoginNetworkWordAt = 19;
inline constexpr std::size_t kLoginNetworkWordWidth = 32;
inline constexpr std::size_t kLoginClientNameAt = 151;
inline constexpr std::size_t kLoginClientNameWidth = 128;
inline constexpr int kLoginPayload = 276;

// ServerQuery.
inline constexpr std::size_t kQueryServiceCodeAt = 15;
inline constexpr int kQueryPayload = 16;

// AckMessage.
inline constexpr std::size_t kAckListNameAt = 15;
inline constexpr std::size_t kAckFileTokenAt = 79;
inline constexpr int kAckPayload = 80;

// ChunkRequest.
inline constexpr std::size_t kChunkRequestIndexAt = 15;
inline constexpr std::size_t kChunkRequestRemoteNameAt = 19;
inline constexpr int kChunkRequestPayload = 416;

// FileRequest.
inline constexpr std::size_t kFileRequestRemoteNameAt = 15;
inline constexpr int kFileRequestPayload = 412;

// ListRequest.
inline constexpr std::size_t kListRequestListNameAt = 15;
inline constexpr int kListRequestPayload = 76;

// ServerAnnouncement.
inline constexpr std::size_t kAnnouncementServiceCodeAt = 27;

// FileDescription.
inline constexpr std::size_t kDescriptionActionAt = 15;
inline constexpr std::size_t kDescriptionFileTokenAt = 19;
inline constexpr std::size_t kDescriptionLocalPathAt = 23;
inline constexpr std::size_t kDescriptionRemoteNameAt = 87;
inline constexpr std::size_t kDescriptionCrcAt = 487;

// DataChunk.
inline constexpr std::size_t kChunkIndexAt = 15;
inline constexpr std::size_t kChunkLengthAt = 19;
inline constexpr std::size_t kChunkDataAt = 21;

// FileSize.
inline constexpr std::size_t kFileSizeNameAt = 15;
inline constexpr std::size_t kFileSizeSizeAt = 615;

// ListSummary.
inline constexpr std::size_t kSummaryListCrcAt = 15;
inline constexpr std::size_t kSummaryListKeyAt = 19;
inline constexpr std::size_t kSummaryNextListAt = 83;
inline constexpr std::size_t kSummaryCompleteAt = 147;

void PutBigEndian32(FrameBuffer& frame, std::size_t at, std::uint32_t value) {
    frame[at] = static_cast<std::uint8_t>(value >> 24);
    frame[at + 1] = static_cast<std::uint8_t>(value >> 16);
    frame[at + 2] = static_cast<std::uint8_t>(value >> 8);
    frame[at + 3] = static_cast<std::uint8_t>(value);
}

void PutLittleEndian32(FrameBuffer& frame, std::size_t at, std::uint32_t value) {
    frame[at] = static_cast<std::uint8_t>(value);
    frame[at + 1] = static_cast<std::uint8_t>(value >> 8);
    frame[at + 2] = static_cast<std::uint8_t>(value >> 16);
    frame[at + 3] = static_cast<std::uint8_t>(value >> 24);
}

// Text copy: the text up to the field's width, the rest of the field zero.
void PutText(FrameBuffer& frame, std::size_t at, std::size_t width, std::string_view text) {
    std::size_t const length = std::min(text.size(), width);
    std::copy_n(text.begin(), length, frame.begin() + static_cast<std::ptrdiff_t>(at));
    std::fill_n(frame.begin() + static_cast<std::ptrdiff_t>(at + length), width - length, 0);
}

// Block copy: the field's bytes as they stand.
void PutBlock(FrameBuffer& frame, std::size_t at, std::span<const std::uint8_t> block) {
    std::copy(block.begin(), block.end(), frame.begin() + static_cast<std::ptrdiff_t>(at));
}

std::string_view AsText(std::span<const std::uint8_t> field) {
    return {reinterpret_cast<char const*>(field.data()), field.size()};
}

std::uint32_t GetBigEndian32(std::span<const std::uint8_t> frame, std::size_t at) {
    return (std::uint32_t{frame[at]} << 24) | (std::uint32_t{frame[at + 1]} << 16) |
           (std::uint32_t{frame[at + 2]} << 8) | std::uint32_t{frame[at + 3]};
}

std::uint16_t GetBigEndian16(std::span<const std::uint8_t> frame, std::size_t at) {
    return static_cast<std::uint16_t>((frame[at] << 8) | frame[at + 1]);
}

template <std::size_t Width>
std::span<const std::uint8_t, Width> FieldAt(std::span<const std::uint8_t> frame, std::size_t at) {
    return frame.subspan(at).first<Width>();
}

// Every builder starts from an all-zero buffer that already holds its address block.
FrameBuffer StartMessage(std::uint32_t sourceId, std::uint32_t destinationId, std::uint8_t kind) {
    FrameBuffer frame{};
    BuildAddressBlock(frame, sourceId, destinationId, kind);
    return frame;
}

}  // namespace

void BuildAddressBlock(FrameBuffer& frame, std::uint32_t sourceId, std::uint32_t destinationId,
                       std::uint8_t kind) {
    PutBigEndian32(frame, kSourceIdAt, sourceId);
    PutBigEndian32(frame, kDestinationIdAt, destinationId);
    frame[kKindAt] = kind;
}

std::string_view FieldText(std::span<const std::uint8_t> field) {
    auto const end = std::find(field.begin(), field.end(), std::uint8_t{0});
    return AsText(field.first(static_cast<std::size_t>(end - field.begin())));
}

ListNameField MakeListName(std::string_view text) {
    ListNameField field{};
    std::copy_n(text.begin(), std::min(text.size(), field.size()), field.begin());
    return field;
}

int LoginMessage(ClientLink& link, SocketLayer& layer, std::uint32_t sourceId,
                 std::uint32_t destinationId, std::uint32_t peerIdEcho,
                 std::string_view networkWord, std::string_view clientName) {
    FrameBuffer frame = StartMessage(sourceId, destinationId, kind::LoginMessage);
    PutLittleEndian32(frame, kLoginPeerEchoAt, peerIdEcho);
    PutText(frame, kLoginNetworkWordAt, kLoginNetworkWordWidth, networkWord);
    PutText(frame, kLoginClientNameAt, kLoginClientNameWidth, clientName);
    return net::LinkSend(link, layer, frame, kLoginPayload, kNetworkFrame);
}

int ServerQuery(ClientLink& link, SocketLayer& layer, std::uint32_t sourceId,
                std::uint32_t destinationId, std::uint8_t serviceCode) {
    FrameBuffer frame = StartMessage(sourceId, destinationId, kind::ServerQuery);
    frame[kQueryServiceCodeAt] = serviceCode;
    return net::LinkSend(link, layer, frame, kQueryPayload, kNetworkFrame);
}

int AckMessage(ClientLink& link, SocketLayer& layer, std::uint32_t sourceId,
               std::uint32_t destinationId, std::uint32_t fileToken,
               ListNameField const& listName) {
    FrameBuffer frame = StartMessage(sourceId, destinationId, kind::AckMessage);
    PutText(frame, kAckListNameAt, kListNameWidth, FieldText(listName));
    PutBigEndian32(frame, kAckFileTokenAt, fileToken);
    return net::LinkSend(link, layer, frame, kAckPayload, kUpdateFrame);
}

int ChunkRequest(ClientLink& link, SocketLayer& layer, std::uint32_t sourceId,
                 std::uint32_t destinationId, std::uint32_t chunkIndex,
                 RemoteNameField const& remoteName) {
    FrameBuffer frame = StartMessage(sourceId, destinationId, kind::ChunkRequest);
    PutBigEndian32(frame, kChunkRequestIndexAt, chunkIndex);
    PutBlock(frame, kChunkRequestRemoteNameAt, remoteName);
    return net::LinkSend(link, layer, frame, kChunkRequestPayload, kUpdateFrame);
}

int FileRequest(ClientLink& link, SocketLayer& layer, std::uint32_t sourceId,
                std::uint32_t destinationId, RemoteNameField const& remoteName) {
    FrameBuffer frame = StartMessage(sourceId, destinationId, kind::FileRequest);
    PutBlock(frame, kFileRequestRemoteNameAt, remoteName);
    return net::LinkSend(link, layer, frame, kFileRequestPayload, kUpdateFrame);
}

int ListRequest(ClientLink& link, SocketLayer& layer, std::uint32_t sourceId,
                std::uint32_t destinationId, ListNameField const& listName) {
    FrameBuffer frame = StartMessage(sourceId, destinationId, kind::ListRequest);
    PutBlock(frame, kListRequestListNameAt, listName);
    return net::LinkSend(link, layer, frame, kListRequestPayload, kUpdateFrame);
}

std::optional<MessageHead> ReadMessageHead(std::span<const std::uint8_t> frame) {
    if (frame.size() < kAddressBlockEnd) {
        return std::nullopt;
    }
    return MessageHead{frame[kFrameTypeAt], GetBigEndian32(frame, kSourceIdAt), frame[kKindAt]};
}

std::optional<ServerAnnouncement> ReadServerAnnouncement(std::span<const std::uint8_t> frame) {
    if (frame.size() <= kAnnouncementServiceCodeAt) {
        return std::nullopt;
    }
    return ServerAnnouncement{GetBigEndian32(frame, kSourceIdAt),
                              frame[kAnnouncementServiceCodeAt]};
}

std::optional<FileDescription> ReadFileDescription(std::span<const std::uint8_t> frame) {
    if (frame.size() < kDescriptionCrcAt + 4) {
        return std::nullopt;
    }
    auto const localPathField = FieldAt<kLocalPathWidth>(frame, kDescriptionLocalPathAt);
    auto const remoteNameField = FieldAt<kRemoteNameWidth>(frame, kDescriptionRemoteNameAt);
    return FileDescription{
        .sourceId = GetBigEndian32(frame, kSourceIdAt),
        .action = frame[kDescriptionActionAt],
        .fileToken = GetBigEndian32(frame, kDescriptionFileTokenAt),
        .localPathField = localPathField,
        .localPath = FieldText(localPathField),
        .remoteNameField = remoteNameField,
        .remoteName = FieldText(remoteNameField),
        .crc = GetBigEndian32(frame, kDescriptionCrcAt),
    };
}

std::optional<DataChunk> ReadDataChunk(std::span<const std::uint8_t> frame) {
    if (frame.size() < kChunkDataAt) {
        return std::nullopt;
    }
    std::size_t const length = GetBigEndian16(frame, kChunkLengthAt);
    if (length > frame.size() - kChunkDataAt) {
        return std::nullopt;
    }
    return DataChunk{GetBigEndian32(frame, kSourceIdAt), GetBigEndian32(frame, kChunkIndexAt),
                     frame.subspan(kChunkDataAt, length)};
}

std::optional<FileSize> ReadFileSize(std::span<const std::uint8_t> frame) {
    if (frame.size() < kFileSizeSizeAt + 4) {
        return std::nullopt;
    }
    return FileSize{FieldText(frame.subspan(kFileSizeNameAt, kFileSizeNameWidth)),
                    GetBigEndian32(frame, kFileSizeSizeAt)};
}

std::optional<ListSummary> ReadListSummary(std::span<const std::uint8_t> frame) {
    if (frame.size() <= kSummaryCompleteAt) {
        return std::nullopt;
    }
    return ListSummary{
        .listCrc = GetBigEndian32(frame, kSummaryListCrcAt),
        .listKey = FieldText(frame.subspan(kSummaryListKeyAt, kListNameWidth)),
        .nextListField = FieldAt<kListNameWidth>(frame, kSummaryNextListAt),
        .complete = frame[kSummaryCompleteAt] == 1,
    };
}

}  // namespace qm::update
