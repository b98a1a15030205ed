// The wire layouts as the server sees them: writers for the messages it sends (the WELCOME, the
// announcement and the four update replies) and readers for the six that the updater sends.
//
// Every message opens with the frame header (16-bit big-endian length of the whole frame, then
// the type byte) and the address block: sender id and destination id (32-bit big-endian), the
// kind (one byte), three zero bytes. Integers are big-endian except the peer-id echo of the login.
// Text fields have fixed widths; the writers copy a text up to the field's width into an all-zero
// frame, and the readers take a text up to its first zero byte, never beyond its field.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace qm::server {

inline constexpr std::uint8_t kNetworkFrame = 0;  // WELCOME, login, query, announcement
inline constexpr std::uint8_t kUpdateFrame = 4;   // the update messages

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

// Actions of a FileDescription.
namespace action {
inline constexpr std::uint8_t Begin = 0;
inline constexpr std::uint8_t CheckFile = 1;
inline constexpr std::uint8_t SwitchList = 2;
inline constexpr std::uint8_t DeleteFile = 4;
}  // namespace action

inline constexpr std::uint8_t kUpdateService = 4;
inline constexpr std::size_t kLocalPathWidth = 64;
inline constexpr std::size_t kListNameWidth = 64;
inline constexpr std::size_t kRemoteNameWidth = 400;
inline constexpr std::size_t kChunkDataMax = 2027;
inline constexpr std::size_t kLargestFrame = 2051;

// Who sends a message and to whom.
struct Addressing {
    std::uint32_t sourceId;
    std::uint32_t destinationId;
};

// One outgoing frame, built by the writers below and valid until the next write into it.
class OutgoingFrame {
  public:
    std::span<const std::uint8_t> bytes() const { return {bytes_.data(), length_}; }

    // Clears the frame to `length` zero bytes and writes the frame header; the writers fill in
    // the rest.
    std::span<std::uint8_t> Begin(std::uint8_t type, std::size_t length);

  private:
    std::array<std::uint8_t, kLargestFrame> bytes_{};
    std::size_t length_ = 0;
};

// Writers. Each replaces the frame's contents with one message.
void WriteWelcome(OutgoingFrame& frame, Addressing to);  // 151 bytes, type 0
void WriteServerAnnouncement(OutgoingFrame& frame, Addressing to,
                             std::uint8_t serviceCode);  // 28 bytes, type 0
void WriteListSummary(OutgoingFrame& frame, Addressing to, std::uint32_t listChecksum,
                      std::string_view listKey, std::string_view nextList,
                      bool complete);  // 148 bytes
void WriteFileDescription(OutgoingFrame& frame, Addressing to, std::uint8_t action,
                          std::uint32_t fileToken, std::string_view localPath,
                          std::string_view remoteName, std::uint32_t checksum);  // 491 bytes
void WriteFileSize(OutgoingFrame& frame, Addressing to, std::string_view fileName,
                   std::uint32_t size);  // 619 bytes; the name always ends with a zero byte
void WriteDataChunk(OutgoingFrame& frame, Addressing to, std::uint32_t chunkIndex,
                    std::span<const std::uint8_t> data);  // 21 bytes + data (at most 2027)

// Readers, in place on a whole frame (from its first length byte). Each gives nothing when the
// frame is shorter than its kind's layout. Views point into the frame.
struct MessageHead {
    std::uint8_t type;
    std::uint32_t sourceId;
    std::uint8_t kind;
};
struct LoginMessage {
    std::uint32_t peerIdEcho;  // little-endian on the wire
    std::string_view networkWord;
    std::string_view clientName;
};
struct ServerQuery {
    std::uint8_t serviceCode;
};
struct AckMessage {
    std::string_view listName;
    std::uint32_t fileToken;
};
struct ListRequest {
    std::string_view listName;
};
struct FileRequest {
    std::string_view remoteName;
};
struct ChunkRequest {
    std::uint32_t chunkIndex;
    std::string_view remoteName;
};

std::optional<MessageHead> ReadMessageHead(std::span<const std::uint8_t> frame);
std::optional<LoginMessage> ReadLoginMessage(std::span<const std::uint8_t> frame);
std::optional<ServerQuery> ReadServerQuery(std::span<const std::uint8_t> frame);
std::optional<AckMessage> ReadAckMessage(std::span<const std::uint8_t> frame);
std::optional<ListRequest> ReadListRequest(std::span<const std::uint8_t> frame);
std::optional<FileRequest> ReadFileRequest(std::span<const std::uint8_t> frame);
std::optional<ChunkRequest> ReadChunkRequest(std::span<const std::uint8_t> frame);

}  // namespace qm::server
