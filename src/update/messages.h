// Layouts of the update protocol's messages: builders for the six that the updater sends and
// readers for the five that it receives.
//
// Every message starts with the 12-byte address block after the frame header: sender id and
// destination id (32-bit big-endian), the kind (one byte), three zero bytes. Integers are
// big-endian except the peer-id echo of LoginMessage. Text fields have fixed widths and are filled
// by a text copy (up to the width, zero-padded, no terminator when the text fills the field) or a
// block copy (the width's bytes as they stand). Outgoing messages are built in an all-zero buffer.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "net/client_link.h"

namespace qm::update {

using net::ClientLink;
using net::FrameBuffer;
using net::SocketLayer;

inline constexpr std::uint8_t kNetworkFrame = 0;  // frame type of login, query, announcement
inline constexpr std::uint8_t kUpdateFrame = 4;   // frame type of the update messages

// Message kinds (byte 11).
namespace kind {
inline constexpr std::uint8_t ServerQuery = 2;
inline constexpr std::uint8_t ServerAnnouncement = 3;
inline constexpr std::uint8_t LoginMessage = 12;
inline constexpr std::uint8_t AckMessage = 0;
inline constexpr std::uint8_t FileDescription = 1;
inline constexpr std::uint8_t ChunkRequest = 2;
inline constexpr std::uint8_t DataChunk = 3;
inline constexpr std::uint8_t FileRequest = 4;
inline constexpr std::uint8_t FileSize = 5;
inline constexpr std::uint8_t ListRequest = 6;
inline constexpr std::uint8_t ListSummary = 7;
}  // namespace kind

inline constexpr std::uint32_t kServerQueryDestination = 0xFFFFFF00u;
inline constexpr std::size_t kListNameWidth = 64;
inline constexpr std::size_t kLocalPathWidth = 64;
inline constexpr std::size_t kRemoteNameWidth = 400;
inline constexpr std::size_t kFileSizeNameWidth = 600;
inline constexpr std::size_t kChunkDataMax = 2027;
inline constexpr std::size_t kAddressBlockEnd = 15;  // first byte after the address block

using ListNameField = std::array<std::uint8_t, kListNameWidth>;
using RemoteNameField = std::array<std::uint8_t, kRemoteNameWidth>;

// Writes bytes 3..14: both ids big-endian, the kind; bytes 12..14 are left as they are.
void BuildAddressBlock(FrameBuffer& frame, std::uint32_t sourceId, std::uint32_t destinationId,
                       std::uint8_t kind);

// The text of a fixed-width field: up to its first zero byte, never beyond the field.
std::string_view FieldText(std::span<const std::uint8_t> field);

// A list-name field holding `text` by a text copy.
ListNameField MakeListName(std::string_view text);

// One send operation per outgoing message. Each builds the message in an all-zero buffer and sends
// it through LinkSend, whose result it returns.
int LoginMessage(ClientLink& link, SocketLayer& layer, std::uint32_t sourceId,
                 std::uint32_t destinationId, std::uint32_t peerIdEcho,
                 std::string_view networkWord,
                 std::string_view clientName);  // 279 bytes
int ServerQuery(ClientLink& link, SocketLayer& layer, std::uint32_t sourceId,
                std::uint32_t destinationId, std::uint8_t serviceCode);  // 19 bytes
int AckMessage(ClientLink& link, SocketLayer& layer, std::uint32_t sourceId,
               std::uint32_t destinationId, std::uint32_t fileToken,
               ListNameField const& listName);  // 83 bytes; list name by text copy
int ChunkRequest(ClientLink& link, SocketLayer& layer, std::uint32_t sourceId,
                 std::uint32_t destinationId, std::uint32_t chunkIndex,
                 RemoteNameField const& remoteName);  // 419 bytes
int FileRequest(ClientLink& link, SocketLayer& layer, std::uint32_t sourceId,
                std::uint32_t destinationId, RemoteNameField const& remoteName);  // 415 bytes
int ListRequest(ClientLink& link, SocketLayer& layer, std::uint32_t sourceId,
                std::uint32_t destinationId, ListNameField const& listName);  // 79, block copy

// Incoming messages, read in place from a reassembled frame (from its first length byte). Each
// reader returns nothing when the frame is too short for the fields its kind's layout reads (or,
// for a DataChunk, when the data runs past the frame). Views point into the frame.
struct ServerAnnouncement {
    std::uint32_t sourceId;
    std::uint8_t serviceCode;  // byte 27
};
struct FileDescription {
    std::uint32_t sourceId;
    std::uint8_t action;  // 0 begin, 1 check file, 2 switch list, 3 repeat list, 4 delete file
    std::uint32_t fileToken;
    std::span<const std::uint8_t, kLocalPathWidth> localPathField;  // next list name for action 2
    std::string_view localPath;                                     // text of that field
    std::span<const std::uint8_t, kRemoteNameWidth> remoteNameField;
    std::string_view remoteName;
    std::uint32_t crc;
};
struct DataChunk {
    std::uint32_t sourceId;
    std::uint32_t chunkIndex;
    std::span<const std::uint8_t> data;  // empty marks the end of the file
};
struct FileSize {
    std::string_view fileName;  // up to 600 bytes, never beyond offset 615
    std::uint32_t size;
};
struct ListSummary {
    std::uint32_t listCrc;
    std::string_view listKey;
    std::span<const std::uint8_t, kListNameWidth> nextListField;
    bool complete;  // byte 147 equal to 1
};

// Frame type (byte 2), sender (3..6) and kind (11) of a frame; nothing when the frame is shorter
// than its address block.
struct MessageHead {
    std::uint8_t type;
    std::uint32_t sourceId;
    std::uint8_t kind;
};
std::optional<MessageHead> ReadMessageHead(std::span<const std::uint8_t> frame);

std::optional<ServerAnnouncement> ReadServerAnnouncement(std::span<const std::uint8_t> frame);
std::optional<FileDescription> ReadFileDescription(std::span<const std::uint8_t> frame);
std::optional<DataChunk> ReadDataChunk(std::span<const std::uint8_t> frame);
std::optional<FileSize> ReadFileSize(std::span<const std::uint8_t> frame);
std::optional<ListSummary> ReadListSummary(std::span<const std::uint8_t> frame);

}  // namespace qm::update
