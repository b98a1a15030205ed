// The byte layouts of the update protocol's messages, for both ends of the connection: the
// updater writes the six requests and reads the five replies, the reference server does the
// opposite. Every offset of every message is named in messages.cpp and nowhere else.
//
// Every message is one frame: the 3-byte frame header, then the 12-byte address block (sender id
// and destination id, 32-bit big-endian; the kind, one byte; three zero bytes), then its fields.
// Integers are big-endian except the peer-id echo of LoginMessage. Text fields have fixed widths.
// A writer starts from an all-zero frame and copies at most a field's width of the bytes it is
// given, so a text gives a text copy (zero-padded, no terminator when it fills the field) and a
// whole field gives a block copy (its bytes as they stand). A reader gives whole fields as views
// into the frame; FieldText reads a field's text up to its first zero byte.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "base/aligned_buffer.h"
#include "base/bytes.h"

namespace qm::update {

using base::Bytes;

inline constexpr std::uint16_t kServerPort = 34005;

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
// Only between peers that announced them (see capability below).
inline constexpr std::uint8_t EntriesRequest = 8;
inline constexpr std::uint8_t ListEntries = 9;
inline constexpr std::uint8_t StreamRequest = 10;
}  // namespace kind

// What a server can do beyond the messages every server of this protocol knows, announced at the
// end of its ServerAnnouncement. A peer uses a capability only when the other side announced it,
// and only on that connection.
namespace capability {
inline constexpr std::uint32_t ListEntries = 1u << 0;  // kinds 8 and 9: a list in a few frames
inline constexpr std::uint32_t FileStreams = 1u << 1;  // kind 10: a file without a request a chunk
inline constexpr std::uint32_t kFastPath = ListEntries | FileStreams;
}  // namespace capability
inline constexpr std::uint8_t kCapabilityVersion = 1;

// Actions of a FileDescription.
namespace action {
inline constexpr std::uint8_t Begin = 0;
inline constexpr std::uint8_t CheckFile = 1;
inline constexpr std::uint8_t SwitchList = 2;
inline constexpr std::uint8_t RepeatList = 3;
inline constexpr std::uint8_t DeleteFile = 4;
}  // namespace action

inline constexpr std::uint8_t kUpdateService = 4;
inline constexpr std::uint32_t kServerQueryDestination = 0xFFFFFF00u;
inline constexpr std::size_t kListNameWidth = 64;
inline constexpr std::size_t kLocalPathWidth = 64;
inline constexpr std::size_t kRemoteNameWidth = 400;
inline constexpr std::size_t kFileSizeNameWidth = 600;
inline constexpr std::size_t kChunkDataMax = 2027;
// Limits of the fast path: entries one EntriesRequest may ask for, and stream requests a server
// keeps waiting at a time.
inline constexpr std::uint32_t kMostEntriesAsked = 1024;
// Room for entries in one ListEntries frame.
inline constexpr std::size_t kListEntriesRoom = 2051 - 23;
inline constexpr std::size_t kMostWaitingStreams = 256;

using ListNameField = std::array<std::uint8_t, kListNameWidth>;
using RemoteNameField = std::array<std::uint8_t, kRemoteNameWidth>;

struct Address {
    std::uint32_t sourceId = 0;
    std::uint32_t destinationId = 0;
};

// Sent by the updater.
struct LoginMessage {  // type 0, 279 bytes
    Address address;
    std::uint32_t peerIdEcho = 0;  // little-endian on the wire
    Bytes networkWord;             // 32 bytes
    Bytes clientName;              // 128 bytes
};
struct ServerQuery {  // type 0, 19 bytes
    Address address;
    std::uint8_t serviceCode = 0;
};
struct AckMessage {  // 83 bytes
    Address address;
    Bytes listName;  // 64 bytes
    std::uint32_t fileToken = 0;
};
struct ChunkRequest {  // 419 bytes
    Address address;
    std::uint32_t chunkIndex = 0;
    Bytes remoteName;  // 400 bytes
};
struct FileRequest {  // 415 bytes
    Address address;
    Bytes remoteName;  // 400 bytes
};
struct ListRequest {  // 79 bytes
    Address address;
    Bytes listName;  // 64 bytes
};
struct EntriesRequest {  // 87 bytes
    Address address;
    Bytes listName;  // 64 bytes, a text copy
    std::uint32_t firstEntry = 0;
    std::uint32_t count = 0;
};
struct StreamRequest {  // 419 bytes
    Address address;
    std::uint32_t firstChunk = 0;
    Bytes remoteName;  // 400 bytes, a text copy
};

// Sent by the server.
struct ServerAnnouncement {  // type 0, 28 bytes; 38 with the capability block
    Address address;
    std::uint8_t serviceCode = 0;  // byte 27
    // The capability block's bits, when the frame carries a block this updater understands.
    std::optional<std::uint32_t> capabilities{};
};
struct FileDescription {  // 491 bytes
    Address address;
    std::uint8_t action = 0;
    std::uint32_t fileToken = 0;
    Bytes localPath;   // 64 bytes; the next list's name for action 2
    Bytes remoteName;  // 400 bytes
    std::uint32_t crc = 0;
};
struct DataChunk {  // 21 bytes + data
    Address address;
    std::uint32_t chunkIndex = 0;
    Bytes data;  // at most 2027 bytes; empty marks the end of the file
};
struct FileSize {  // 619 bytes
    Address address;
    Bytes fileName;  // 600 bytes; the writer always leaves a zero byte at its end
    std::uint32_t size = 0;
};
struct ListSummary {  // 148 bytes
    Address address;
    std::uint32_t listCrc = 0;
    Bytes listKey;              // 64 bytes
    Bytes nextList;             // 64 bytes
    std::uint8_t complete = 0;  // 1: the whole run is complete
};
// One entry of a list, as a ListEntries frame carries it: what a FileDescription says, with the
// file's size, without the token.
struct ListEntry {
    std::uint8_t action = 0;  // action::CheckFile, SwitchList, RepeatList or DeleteFile
    std::uint32_t crc = 0;
    std::uint32_t size = 0;
    Bytes localPath;   // at most 64 bytes; the next list's name for SwitchList
    Bytes remoteName;  // at most 400 bytes
    Bytes extra;       // what a later version adds to an entry; skipped
};
struct ListEntries {  // 23 bytes + entries, at most a whole frame
    Address address;
    std::uint32_t firstEntry = 0;  // the list index of the frame's first entry
    std::uint16_t count = 0;
    bool endsList = false;  // the last entry is the list's end (SwitchList or RepeatList)
    Bytes entries;          // `count` entries, each checked to lie inside the frame
};

// Writers: each appends one whole frame, header included, to `out`.
void Append(base::ByteBuffer& out, LoginMessage const& message);
void Append(base::ByteBuffer& out, ServerQuery const& message);
void Append(base::ByteBuffer& out, AckMessage const& message);
void Append(base::ByteBuffer& out, ChunkRequest const& message);
void Append(base::ByteBuffer& out, FileRequest const& message);
void Append(base::ByteBuffer& out, ListRequest const& message);
void Append(base::ByteBuffer& out, EntriesRequest const& message);
void Append(base::ByteBuffer& out, StreamRequest const& message);
void Append(base::ByteBuffer& out, ServerAnnouncement const& message);
void Append(base::ByteBuffer& out, FileDescription const& message);
void Append(base::ByteBuffer& out, DataChunk const& message);
void Append(base::ByteBuffer& out, FileSize const& message);
void Append(base::ByteBuffer& out, ListSummary const& message);

// Packs list entries into ListEntries frames as large as a frame may be, each entry whole.
class ListEntriesWriter {
  public:
    ListEntriesWriter(base::ByteBuffer& out, Address address, std::uint32_t firstEntry);
    ~ListEntriesWriter() { Flush(false); }
    ListEntriesWriter(ListEntriesWriter const&) = delete;
    ListEntriesWriter& operator=(ListEntriesWriter const&) = delete;

    void Add(ListEntry const& entry);
    // Writes the entries gathered; `endsList` marks the last of them as the list's end.
    void Flush(bool endsList);

  private:
    base::ByteBuffer& out_;
    Address address_;
    std::uint32_t firstEntry_;
    std::uint16_t count_ = 0;
    base::ByteBuffer entries_;
};

// The size of `entry` in a ListEntries frame.
std::size_t EncodedSize(ListEntry const& entry);

// Frame type (byte 2), sender (3..6) and kind (11); nothing when the frame is shorter than its
// address block.
struct MessageHead {
    std::uint8_t type;
    std::uint32_t sourceId;
    std::uint8_t kind;
};
std::optional<MessageHead> ReadMessageHead(Bytes frame);

// Readers, in place on one whole frame (from its first length byte). Nothing when the frame is
// shorter than its kind's layout, or, for a DataChunk, when its data runs past the frame.
std::optional<LoginMessage> ReadLoginMessage(Bytes frame);
std::optional<ServerQuery> ReadServerQuery(Bytes frame);
std::optional<AckMessage> ReadAckMessage(Bytes frame);
std::optional<ChunkRequest> ReadChunkRequest(Bytes frame);
std::optional<FileRequest> ReadFileRequest(Bytes frame);
std::optional<ListRequest> ReadListRequest(Bytes frame);
std::optional<EntriesRequest> ReadEntriesRequest(Bytes frame);
std::optional<StreamRequest> ReadStreamRequest(Bytes frame);
std::optional<ServerAnnouncement> ReadServerAnnouncement(Bytes frame);
std::optional<FileDescription> ReadFileDescription(Bytes frame);
std::optional<DataChunk> ReadDataChunk(Bytes frame);
std::optional<FileSize> ReadFileSize(Bytes frame);
std::optional<ListSummary> ReadListSummary(Bytes frame);
// Nothing also when an entry's lengths run past the frame or past their fields' widths, or the
// frame holds bytes after the last entry.
std::optional<ListEntries> ReadListEntries(Bytes frame);
// The first entry of `entries` (as ReadListEntries checked them), and `entries` moved past it.
ListEntry TakeListEntry(Bytes& entries);

// The text of a fixed-width field: up to its first zero byte, never beyond the field.
std::string_view FieldText(Bytes field);

// A list-name field holding `text` by a text copy.
ListNameField MakeListName(std::string_view text);

}  // namespace qm::update
