// The update server's side of the protocol, byte by byte: the frames a test server sends and
// the fields it reads from the updater's frames. Integers are big-endian on the wire.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qm::app::qt::test {

using Bytes = std::vector<std::uint8_t>;

inline constexpr std::uint32_t kPeerId = 0x2A;
inline constexpr std::uint32_t kClientId = 0x01020300;
inline constexpr std::uint32_t kServerId = 0x00000777;
inline constexpr std::size_t kChunkSize = 2027;

// Frames the server sends.
Bytes Welcome();
Bytes ServerAnnouncement();
Bytes FileDescription(std::uint8_t action, std::uint32_t token, std::string const& localPath,
                      std::string const& remoteName, std::uint32_t crc);
Bytes FileSize(std::string const& name, std::uint32_t size);
Bytes DataChunk(std::uint32_t index, Bytes const& data);
Bytes ListSummary(std::uint32_t crc, std::string const& key, std::string const& next,
                  bool complete);

// Fields of a frame from the updater.
std::uint8_t FrameType(Bytes const& frame);
std::uint8_t Kind(Bytes const& frame);
std::uint32_t Word(Bytes const& frame, std::size_t offset);
std::string Text(Bytes const& frame, std::size_t offset, std::size_t width);

// Kinds of the updater's frames.
inline constexpr std::uint8_t kLogin = 12;        // frame type 0
inline constexpr std::uint8_t kServerQuery = 2;   // frame type 0
inline constexpr std::uint8_t kAck = 0;           // frame type 4
inline constexpr std::uint8_t kChunkRequest = 2;  // frame type 4
inline constexpr std::uint8_t kFileRequest = 4;   // frame type 4
inline constexpr std::uint8_t kListRequest = 6;   // frame type 4

// The CRC-32 of IEEE 802.3, as the updater compares files with it.
std::uint32_t Crc32(Bytes const& data);

}  // namespace qm::app::qt::test
