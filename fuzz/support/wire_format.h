// The update protocol's frames as the fuzz directory writes and checks them: the tests' own wire
// oracle (tests/support), which shares nothing with the product's builders, with the ids the
// seed conversations use: the updater is 0x0A000001, the update server 0x00000100.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "support/crc32.h"
#include "support/wire.h"

namespace qm::fuzz::wire {

using test::Append;
using test::Bytes;
using test::ClientMessageLength;
using test::FrameStream;  // how a received stream divides into frames (SplitFrames)
using test::Joined;
using test::Read32;
using test::Resized;
using test::SplitFrames;

inline constexpr std::uint8_t kUpdateFrame = test::kUpdateType;
inline constexpr std::size_t kWelcomeLength = 151;
inline constexpr std::size_t kChunkData = test::kChunkSize;
inline constexpr std::uint32_t kClientId = 0x0A000001u;
inline constexpr std::uint32_t kServerId = 0x00000100u;

inline Bytes Welcome(std::uint32_t senderId, std::uint32_t assignedId) {
    return test::Welcome(senderId, assignedId, "WELCOME");
}
inline Bytes ServerAnnouncement(std::uint32_t serverId, std::uint8_t serviceCode) {
    return test::ServerAnnouncement(serverId, kClientId, serviceCode);
}
inline Bytes FileDescription(std::uint32_t senderId, std::uint8_t action, std::uint32_t fileToken,
                             std::string_view localPath, std::string_view remoteName,
                             std::uint32_t crc) {
    return test::FileDescription(
        {senderId, kClientId, action, fileToken, localPath, remoteName, crc});
}
inline Bytes FileSize(std::string_view fileName, std::uint32_t size) {
    return test::FileSize(kServerId, kClientId, fileName, size, 599);
}
inline Bytes DataChunk(std::uint32_t senderId, std::uint32_t index,
                       std::span<const std::uint8_t> data) {
    return test::DataChunk(senderId, kClientId, index, data);
}
inline Bytes ListSummary(std::uint32_t listCrc, std::string_view listKey, std::string_view nextList,
                         std::uint8_t complete) {
    return test::ListSummary(kServerId, kClientId, listCrc, listKey, nextList, complete);
}
inline Bytes FastPathAnnouncement(std::uint32_t serverId) {
    return test::AnnouncementWithCapabilities(
        serverId, kClientId, test::kListEntriesCapability | test::kFileStreamsCapability);
}
inline Bytes ListEntries(std::uint32_t first, std::uint16_t count, bool endsList,
                         Bytes const& entries) {
    return test::ListEntries(kServerId, kClientId, first, count, endsList, entries);
}
using test::Entry;
// A frame of `type` around `body` (the bytes from offset 3 on).
inline Bytes Frame(std::uint8_t type, Bytes const& body) {
    return test::FrameBuilder(body.size() + 3, type).Block(3, body.size(), body).Build();
}
inline std::uint32_t Crc32(std::span<const std::uint8_t> bytes) {
    return test::ReferenceCrc32(bytes);
}

}  // namespace qm::fuzz::wire
