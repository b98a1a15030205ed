// The update protocol's frames as this fuzz directory writes them, independently of the product's
// own builders: a 16-bit big-endian frame length (header included) and a type byte, then the
// message body, which starts with the address block (sender id, destination id, kind, three zero
// bytes). Used to write seed conversations and to check what the updater sends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace qm::fuzz::wire {

using Bytes = std::vector<std::uint8_t>;

inline constexpr std::uint8_t kNetworkFrame = 0;
inline constexpr std::uint8_t kUpdateFrame = 4;
inline constexpr std::size_t kMaxFrame = 2051;
inline constexpr std::size_t kWelcomeLength = 151;
inline constexpr std::size_t kChunkData = 2027;

// Server messages, each a whole frame.
Bytes Welcome(std::uint32_t senderId, std::uint32_t assignedId);
Bytes ServerAnnouncement(std::uint32_t serverId, std::uint8_t serviceCode);
Bytes FileDescription(std::uint32_t senderId, std::uint8_t action, std::uint32_t fileToken,
                      std::string_view localPath, std::string_view remoteName, std::uint32_t crc);
Bytes FileSize(std::string_view fileName, std::uint32_t size);
Bytes DataChunk(std::uint32_t senderId, std::uint32_t index, std::span<const std::uint8_t> data);
Bytes ListSummary(std::uint32_t listCrc, std::string_view listKey, std::string_view nextList,
                  std::uint8_t complete);

// A frame of `type` around `body` (the bytes from offset 3 on).
Bytes Frame(std::uint8_t type, Bytes const& body);

// Frame lengths of the updater's own messages by type and kind; 0 for a kind it never sends.
std::size_t ClientMessageLength(std::uint8_t type, std::uint8_t kind);

std::uint32_t ReadBigEndian32(std::span<const std::uint8_t> bytes, std::size_t at);

// CRC-32 of IEEE 802.3, bit by bit.
std::uint32_t Crc32(std::span<const std::uint8_t> bytes);

void Append(Bytes& to, Bytes const& more);

}  // namespace qm::fuzz::wire
