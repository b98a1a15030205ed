// The tests' own picture of the update protocol on the wire: encoders for every frame either side
// sends and readers for the fields of received frames. Written from the protocol's byte layouts,
// independently of the product's code, so that a layout fault in the product shows up as a byte
// difference. Integers are big-endian, except the peer id that the login echoes (little-endian).
// Every frame starts with its 16-bit length (header included) and a type byte; a message body
// starts with the address block: sender id at 3, addressee id at 7, kind at 11, three zero bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qm::test {

using Bytes = std::vector<std::uint8_t>;

inline constexpr std::uint8_t kNetworkType = 0;
inline constexpr std::uint8_t kUpdateType = 4;
inline constexpr std::size_t kChunkSize = 2027;
inline constexpr std::size_t kMaxFrame = 2051;
inline constexpr std::uint32_t kAnyServer = 0xFFFFFF00u;

Bytes ToBytes(std::string_view text);
Bytes Joined(std::initializer_list<Bytes> frames);
void Append(Bytes& to, std::span<const std::uint8_t> more);

// Fixed-width fields as the updater keeps them: a text copy (zero-padded, cut to the width).
Bytes TextField(std::size_t width, std::string_view text);

// The ids of one conversation. The WELCOME's sender, the update server that announces itself and
// the sender of the file messages may all differ; the updater must address each reply right.
struct Peers {
    std::uint32_t client = 0x0A000001;         // assigned to the updater by the WELCOME
    std::uint32_t welcomeSender = 0x00000001;  // the login goes to it
    std::uint32_t server = 0x00000063;         // the announced update server
    std::uint32_t fileSender = 0x00000077;     // sender of descriptions and chunks
};

// Builds one frame in an all-zero block of its full length; the header holds that length.
class FrameBuilder {
  public:
    FrameBuilder(std::size_t length, std::uint8_t type);
    // Bytes 3..14: sender, addressee, kind, three zero bytes.
    FrameBuilder& Address(std::uint32_t sender, std::uint32_t destination, std::uint8_t kind);
    FrameBuilder& Byte(std::size_t at, std::uint8_t value);
    FrameBuilder& Put16(std::size_t at, std::uint16_t value);
    FrameBuilder& Put32(std::size_t at, std::uint32_t value);
    FrameBuilder& Put32LittleEndian(std::size_t at, std::uint32_t value);
    // Copies `block` at `at`, cut to `width` (the rest of the field stays zero).
    FrameBuilder& Block(std::size_t at, std::size_t width, std::span<const std::uint8_t> block);
    FrameBuilder& Text(std::size_t at, std::size_t width, std::string_view text);
    Bytes Build() const { return bytes_; }

  private:
    Bytes bytes_;
};

// ---- Frames the server sends ----------------------------------------------------------------

// 151 bytes, frame type 0: the sender's id at 3, the id given to the client at 7, a text at 15.
Bytes Welcome(std::uint32_t sender, std::uint32_t assignedId, std::string_view text = "");
// A WELCOME whose type byte or length is wrong.
Bytes WelcomeWith(std::uint8_t type, std::size_t length, std::uint32_t sender,
                  std::uint32_t assignedId);
Bytes ServerAnnouncement(std::uint32_t server, std::uint32_t client, std::uint8_t serviceCode = 4);
// 38 bytes: the announcement and its capability block ("QMCP", version, a zero byte, the bits).
inline constexpr std::uint32_t kListEntriesCapability = 1;
inline constexpr std::uint32_t kFileStreamsCapability = 2;
Bytes AnnouncementWithCapabilities(std::uint32_t server, std::uint32_t client,
                                   std::uint32_t capabilities, std::uint8_t version = 1);

// One entry of a ListEntries frame: action, checksum, size, the two names with their lengths
// (one byte, two bytes), and `extra` bytes after a one-byte length.
struct EntryFields {
    std::uint8_t action = 1;
    std::uint32_t crc = 0;
    std::uint32_t size = 0;
    std::string_view localPath{};
    std::string_view remoteName{};
    Bytes extra{};
};
Bytes Entry(EntryFields const& fields);
// 23 bytes and the entries: the first entry's index, the count, the flags (1: the last entry
// ends the list).
Bytes ListEntries(std::uint32_t sender, std::uint32_t client, std::uint32_t firstEntry,
                  std::uint16_t count, bool endsList, Bytes const& entries);

struct FileDescriptionFields {
    std::uint32_t sender = 0;
    std::uint32_t destination = 0;
    std::uint8_t action = 0;
    std::uint32_t fileToken = 0;
    std::string_view localPath{};   // 64 bytes
    std::string_view remoteName{};  // 400 bytes
    std::uint32_t crc = 0;
};
Bytes FileDescription(FileDescriptionFields const& fields);  // 491 bytes

Bytes DataChunk(std::uint32_t sender, std::uint32_t client, std::uint32_t index,
                std::span<const std::uint8_t> data);  // 21 + data bytes
// A chunk whose frame holds `carried` data bytes while its length field says `claimed`.
Bytes DataChunkClaiming(std::uint32_t sender, std::uint32_t client, std::uint32_t index,
                        std::uint16_t claimed, std::size_t carried);
// 619 bytes; the name field is 600 bytes wide, `nameWidth` of them are written.
Bytes FileSize(std::uint32_t sender, std::uint32_t client, std::string_view name,
               std::uint32_t size, std::size_t nameWidth = 600);

// 148 bytes: the list's checksum, its key and the next list's name (64 bytes each), the flag.
Bytes ListSummary(std::uint32_t sender, std::uint32_t destination, std::uint32_t listCrc,
                  std::string_view listKey, std::string_view nextList, std::uint8_t complete);

// ---- Frames the updater sends ---------------------------------------------------------------

Bytes LoginMessage(std::uint32_t client, std::uint32_t peer, std::string_view network = "FENWARDIX",
                   std::string_view clientName = "Uploader");           // 279 bytes
Bytes ServerQuery(std::uint32_t client, std::uint8_t serviceCode = 4);  // 19 bytes
// The list name of an acknowledgement is a text copy of the updater's 64-byte list name.
Bytes AckMessage(std::uint32_t client, std::uint32_t server, std::string_view listName,
                 std::uint32_t fileToken);  // 83 bytes
Bytes ChunkRequest(std::uint32_t client, std::uint32_t destination, std::uint32_t index,
                   std::string_view remoteName);  // 419 bytes
Bytes FileRequest(std::uint32_t client, std::uint32_t server,
                  std::string_view remoteName);  // 415 bytes
Bytes ListRequest(std::uint32_t client, std::uint32_t server,
                  std::string_view listName);  // 79 bytes
Bytes EntriesRequest(std::uint32_t client, std::uint32_t server, std::string_view listName,
                     std::uint32_t firstEntry, std::uint32_t count);  // 87 bytes
Bytes StreamRequest(std::uint32_t client, std::uint32_t server, std::uint32_t firstChunk,
                    std::string_view remoteName);  // 419 bytes

// Chunk `index` of `content` as a server sends it: kChunkSize bytes, fewer for the last one, none
// from the end on.
std::span<const std::uint8_t> ChunkOf(std::span<const std::uint8_t> content, std::size_t index);

// `frame` cut or zero-padded to `length` bytes, its header saying so.
Bytes Resized(Bytes frame, std::size_t length);

// ---- Reading frames -------------------------------------------------------------------------

std::uint16_t Read16(std::span<const std::uint8_t> frame, std::size_t at);
std::uint32_t Read32(std::span<const std::uint8_t> frame, std::size_t at);
// The text of a zero-padded field (up to its first zero byte), cut at the frame's end.
std::string TextAt(std::span<const std::uint8_t> frame, std::size_t at, std::size_t width);
inline std::uint8_t FrameType(std::span<const std::uint8_t> frame) {
    return frame.size() > 2 ? frame[2] : 0xFF;
}
inline std::uint8_t Kind(std::span<const std::uint8_t> frame) {
    return frame.size() > 11 ? frame[11] : 0xFF;
}
// The frame length of the updater's message of this type and kind; 0 for one it never sends.
std::size_t ClientMessageLength(std::uint8_t type, std::uint8_t kind);

// How a byte stream divides into frames: each is its two length bytes and length - 2 more. A
// length outside 3..2051 breaks the stream there.
struct FrameStream {
    std::vector<std::span<const std::uint8_t>> frames;  // complete frames, in order
    std::optional<unsigned> brokenLength;               // the length field that broke the stream
    std::size_t consumed = 0;  // bytes taken: all, or up to the broken length field's end
};
FrameStream SplitFrames(std::span<const std::uint8_t> stream);

// "N bytes, type T kind K", for failure messages.
std::string DescribeFrame(std::span<const std::uint8_t> frame);

// ---- In front of the protocol: the PROXY protocol version 2 header ------------------------------

// What a TCP load balancer (haproxy with send-proxy-v2) sends before the client's bytes: the
// 12-byte signature, version 2 and the command (0x21 PROXY, 0x20 LOCAL), the family and transport
// (0x11 TCP over IPv4, 0x21 TCP over IPv6), the 16-bit length of the rest, then source and
// destination address and source and destination port, then `trailing` bytes (TLVs).
struct ProxyV2Fields {
    std::string source = "192.0.2.10";  // IPv4 or IPv6 text
    std::uint16_t sourcePort = 50000;
    std::string destination = "127.0.0.1";
    std::uint16_t destinationPort = 34005;
    Bytes trailing{};
};
Bytes ProxyV2(ProxyV2Fields const& fields);
// The LOCAL command of a health check: family 0, no addresses.
Bytes ProxyV2Local();

}  // namespace qm::test
