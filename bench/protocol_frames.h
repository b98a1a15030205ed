// The few frames of the update protocol that a downloading client sends, byte for byte, and
// the fields it reads from the server's frames. Frames open with a 16-bit big-endian length
// (header included) and a type byte; then come the sender id, the addressee id and the kind.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace qm::bench::frames {

inline constexpr std::uint8_t kNetworkType = 0;
inline constexpr std::uint8_t kUpdateType = 4;

namespace kind {
inline constexpr std::uint8_t kServerQuery = 2;
inline constexpr std::uint8_t kServerAnnouncement = 3;
inline constexpr std::uint8_t kLogin = 12;
inline constexpr std::uint8_t kChunkRequest = 2;
inline constexpr std::uint8_t kDataChunk = 3;
inline constexpr std::uint8_t kFileRequest = 4;
inline constexpr std::uint8_t kFileSize = 5;
inline constexpr std::uint8_t kListRequest = 6;
inline constexpr std::uint8_t kListSummary = 7;
}  // namespace kind

inline constexpr std::uint32_t kAnyServer = 0xFFFFFF00u;
inline constexpr std::uint8_t kUpdateService = 4;

// Each appends one whole frame to `out`.
void AppendLogin(std::vector<std::uint8_t>& out, std::uint32_t ownId, std::uint32_t peerId);
void AppendServerQuery(std::vector<std::uint8_t>& out, std::uint32_t ownId);
void AppendListRequest(std::vector<std::uint8_t>& out, std::uint32_t ownId, std::uint32_t serverId,
                       std::string_view listName);
void AppendFileRequest(std::vector<std::uint8_t>& out, std::uint32_t ownId, std::uint32_t serverId,
                       std::string_view remoteName);
void AppendChunkRequest(std::vector<std::uint8_t>& out, std::uint32_t ownId, std::uint32_t serverId,
                        std::uint32_t index, std::string_view remoteName);

std::uint32_t ReadBigEndian32(std::span<const std::uint8_t> frame, std::size_t offset);
std::uint16_t ReadBigEndian16(std::span<const std::uint8_t> frame, std::size_t offset);

}  // namespace qm::bench::frames
