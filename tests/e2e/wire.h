// The test side's own picture of the update protocol on the wire: builders for every frame the
// server sends and for the exact bytes the updater is expected to send back. Written from the
// protocol's layouts independently of the updater's code, so that a layout fault in the updater
// shows up as a byte difference.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qm::e2e {

using Bytes = std::vector<std::uint8_t>;

Bytes ToBytes(std::string_view text);

// The ids of one conversation. The WELCOME's sender, the update server that announces itself and
// the sender of the file messages may all differ; the updater must address each reply right.
struct Peers {
    std::uint32_t client = 0x0A000001;         // assigned to the updater by the WELCOME
    std::uint32_t welcomeSender = 0x00000001;  // the login goes to it
    std::uint32_t server = 0x00000063;         // the announced update server
    std::uint32_t fileSender = 0x00000077;     // sender of descriptions and chunks
};

// Fixed-width fields as the updater keeps them: a text copy (zero-padded, cut to the width).
Bytes TextField(std::size_t width, std::string_view text);
inline Bytes ListNameField(std::string_view text) {
    return TextField(64, text);
}
inline Bytes RemoteNameField(std::string_view text) {
    return TextField(400, text);
}

// ---- Frames the server sends ----------------------------------------------------------------

// 151 bytes, frame type 0: the sender's id at 3, the id given to the client at 7.
Bytes Welcome(std::uint32_t sender, std::uint32_t assignedId);
// A WELCOME whose type byte or length is wrong.
Bytes WelcomeWith(std::uint8_t type, std::size_t length, std::uint32_t sender,
                  std::uint32_t assignedId);

Bytes ServerAnnouncement(std::uint32_t server, std::uint32_t client, std::uint8_t serviceCode = 4);

struct FileDescriptionFields {
    std::uint32_t sender = 0;
    std::uint32_t destination = 0;
    std::uint8_t action = 0;
    std::uint32_t fileToken = 0;
    Bytes localPath = TextField(64, "");    // 64 bytes
    Bytes remoteName = TextField(400, "");  // 400 bytes
    std::uint32_t crc = 0;
};
Bytes FileDescription(FileDescriptionFields const& fields);  // 491 bytes

Bytes DataChunk(std::uint32_t sender, std::uint32_t client, std::uint32_t index,
                std::span<const std::uint8_t> data);  // 21 + data bytes
// A chunk whose frame holds `carried` data bytes while its length field says `claimed`.
Bytes DataChunkClaiming(std::uint32_t sender, std::uint32_t client, std::uint32_t index,
                        std::uint16_t claimed, std::size_t carried);

Bytes FileSize(std::uint32_t sender, std::uint32_t client, std::string_view name,
               std::uint32_t size);  // 619 bytes

struct ListSummaryFields {
    std::uint32_t sender = 0;
    std::uint32_t destination = 0;
    std::uint32_t listCrc = 0;
    Bytes listKey = TextField(64, "");   // 64 bytes
    Bytes nextList = TextField(64, "");  // 64 bytes
    std::uint8_t complete = 0;
};
Bytes ListSummary(ListSummaryFields const& fields);  // 148 bytes

// ---- Frames the updater must send -----------------------------------------------------------

Bytes LoginMessage(std::uint32_t client, std::uint32_t peer);  // 279 bytes
Bytes ServerQuery(std::uint32_t client);                       // 19 bytes
// The list name of an acknowledgement is a text copy of the updater's 64-byte list name.
Bytes AckMessage(std::uint32_t client, std::uint32_t server, std::string_view listName,
                 std::uint32_t fileToken);  // 83 bytes
Bytes ChunkRequest(std::uint32_t client, std::uint32_t destination, std::uint32_t index,
                   Bytes const& remoteNameBlock);  // 419 bytes
Bytes FileRequest(std::uint32_t client, std::uint32_t server,
                  Bytes const& remoteNameBlock);  // 415 bytes
Bytes ListRequest(std::uint32_t client, std::uint32_t server,
                  Bytes const& listNameBlock);  // 79 bytes

// "type T kind K, N bytes", for failure messages.
std::string DescribeFrame(std::span<const std::uint8_t> frame);

}  // namespace qm::e2e
