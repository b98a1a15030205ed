#include "update/messages.h"

#include <algorithm>
#include <array>

#include "base/byte_order.h"
#include "net/frame.h"

namespace qm::update {
namespace {

// Address block, at the start of every message body.
constexpr std::size_t kTypeAt = 2;
constexpr std::size_t kSourceIdAt = 3;
constexpr std::size_t kDestinationIdAt = 7;
constexpr std::size_t kKindAt = 11;
constexpr std::size_t kAddressBlockEnd = 15;

// One fixed-width field of a layout.
struct Field {
    std::size_t at;
    std::size_t width;
};

// The layout of one message: its frame type, kind and length (the least for a DataChunk).
struct Layout {
    std::uint8_t type;
    std::uint8_t kind;
    std::size_t length;
};

namespace login {
constexpr Layout kLayout{kNetworkFrame, kind::LoginMessage, 279};
constexpr std::size_t kPeerEchoAt = 15;
constexpr Field kNetworkWord{19, 32};
constexpr Field kClientName{151, 128};
}  // namespace login

namespace query {
constexpr Layout kLayout{kNetworkFrame, kind::ServerQuery, 19};
constexpr std::size_t kServiceCodeAt = 15;
}  // namespace query

namespace ack {
constexpr Layout kLayout{kUpdateFrame, kind::AckMessage, 83};
constexpr Field kListName{15, kListNameWidth};
constexpr std::size_t kFileTokenAt = 79;
}  // namespace ack

namespace chunk_request {
constexpr Layout kLayout{kUpdateFrame, kind::ChunkRequest, 419};
constexpr std::size_t kIndexAt = 15;
constexpr Field kRemoteName{19, kRemoteNameWidth};
}  // namespace chunk_request

namespace file_request {
constexpr Layout kLayout{kUpdateFrame, kind::FileRequest, 415};
constexpr Field kRemoteName{15, kRemoteNameWidth};
}  // namespace file_request

namespace list_request {
constexpr Layout kLayout{kUpdateFrame, kind::ListRequest, 79};
constexpr Field kListName{15, kListNameWidth};
}  // namespace list_request

namespace announcement {
constexpr Layout kLayout{kNetworkFrame, kind::ServerAnnouncement, 28};
constexpr std::size_t kServiceCodeAt = 27;
// The capability block after it: a tag, its version, a zero byte, the capability bits.
constexpr std::array<std::uint8_t, 4> kCapabilityTag{'Q', 'M', 'C', 'P'};
constexpr std::size_t kCapabilityTagAt = 28;
constexpr std::size_t kCapabilityVersionAt = 32;
constexpr std::size_t kCapabilitiesAt = 34;
constexpr std::size_t kLengthWithCapabilities = 38;
}  // namespace announcement

namespace entries_request {
constexpr Layout kLayout{kUpdateFrame, kind::EntriesRequest, 87};
constexpr Field kListName{15, kListNameWidth};
constexpr std::size_t kFirstEntryAt = 79;
constexpr std::size_t kCountAt = 83;
}  // namespace entries_request

namespace stream_request {
constexpr Layout kLayout{kUpdateFrame, kind::StreamRequest, 419};
constexpr std::size_t kFirstChunkAt = 15;
constexpr Field kRemoteName{19, kRemoteNameWidth};
}  // namespace stream_request

namespace list_entries {
constexpr Layout kLayout{kUpdateFrame, kind::ListEntries, 23};
constexpr std::size_t kFirstEntryAt = 15;
constexpr std::size_t kCountAt = 19;
constexpr std::size_t kFlagsAt = 21;
constexpr std::uint8_t kEndsList = 1;
constexpr std::size_t kEntriesAt = 23;
constexpr std::size_t kEntriesRoom = kListEntriesRoom;
static_assert(kEntriesAt + kEntriesRoom == net::kMaxFrameLength);
// An entry: action (1), checksum (4), size (4), local path length (1) and path, remote name
// length (2, big-endian) and name, extra length (1) and extra bytes.
constexpr std::size_t kActionAt = 0;
constexpr std::size_t kCrcAt = 1;
constexpr std::size_t kSizeAt = 5;
constexpr std::size_t kLocalPathLengthAt = 9;
constexpr std::size_t kFixedBytes = 13;
}  // namespace list_entries

namespace description {
constexpr Layout kLayout{kUpdateFrame, kind::FileDescription, 491};
constexpr std::size_t kActionAt = 15;
constexpr std::size_t kFileTokenAt = 19;
constexpr Field kLocalPath{23, kLocalPathWidth};
constexpr Field kRemoteName{87, kRemoteNameWidth};
constexpr std::size_t kCrcAt = 487;
}  // namespace description

namespace data_chunk {
constexpr Layout kLayout{kUpdateFrame, kind::DataChunk, 21};
constexpr std::size_t kIndexAt = 15;
constexpr std::size_t kLengthAt = 19;
constexpr std::size_t kDataAt = 21;
}  // namespace data_chunk

namespace file_size {
constexpr Layout kLayout{kUpdateFrame, kind::FileSize, 619};
constexpr Field kFileName{15, kFileSizeNameWidth};
constexpr std::size_t kSizeAt = 615;
}  // namespace file_size

namespace summary {
constexpr Layout kLayout{kUpdateFrame, kind::ListSummary, 148};
constexpr std::size_t kListCrcAt = 15;
constexpr Field kListKey{19, kListNameWidth};
constexpr Field kNextList{83, kListNameWidth};
constexpr std::size_t kCompleteAt = 147;
}  // namespace summary

// Fills one message into a new all-zero frame at the end of `out`.
class Writer {
  public:
    Writer(base::ByteBuffer& out, Layout layout, Address address, std::size_t extra = 0)
        : frame_(net::AppendFrame(out, layout.type, layout.length + extra)) {
        base::WriteBigEndian32(frame_, kSourceIdAt, address.sourceId);
        base::WriteBigEndian32(frame_, kDestinationIdAt, address.destinationId);
        frame_[kKindAt] = layout.kind;
    }

    Writer& Byte(std::size_t at, std::uint8_t value) {
        frame_[at] = value;
        return *this;
    }
    Writer& BigEndian32(std::size_t at, std::uint32_t value) {
        base::WriteBigEndian32(frame_, at, value);
        return *this;
    }
    Writer& BigEndian16(std::size_t at, std::uint16_t value) {
        base::WriteBigEndian16(frame_, at, value);
        return *this;
    }
    Writer& LittleEndian32(std::size_t at, std::uint32_t value) {
        base::WriteLittleEndian32(frame_, at, value);
        return *this;
    }
    // At most the field's width of `bytes`; the rest of the field stays zero.
    Writer& Put(Field field, Bytes bytes) {
        std::copy_n(bytes.begin(), std::min(bytes.size(), field.width),
                    frame_.begin() + static_cast<std::ptrdiff_t>(field.at));
        return *this;
    }
    Writer& Put(std::size_t at, Bytes bytes) { return Put(Field{at, bytes.size()}, bytes); }

  private:
    std::span<std::uint8_t> frame_;
};

bool TooShort(Bytes frame, Layout layout) {
    return frame.size() < layout.length;
}

Address AddressOf(Bytes frame) {
    return Address{base::ReadBigEndian32(frame, kSourceIdAt),
                   base::ReadBigEndian32(frame, kDestinationIdAt)};
}

Bytes FieldOf(Bytes frame, Field field) {
    return frame.subspan(field.at, field.width);
}

}  // namespace

void Append(base::ByteBuffer& out, LoginMessage const& message) {
    Writer(out, login::kLayout, message.address)
        .LittleEndian32(login::kPeerEchoAt, message.peerIdEcho)
        .Put(login::kNetworkWord, message.networkWord)
        .Put(login::kClientName, message.clientName);
}

void Append(base::ByteBuffer& out, ServerQuery const& message) {
    Writer(out, query::kLayout, message.address).Byte(query::kServiceCodeAt, message.serviceCode);
}

void Append(base::ByteBuffer& out, AckMessage const& message) {
    Writer(out, ack::kLayout, message.address)
        .Put(ack::kListName, message.listName)
        .BigEndian32(ack::kFileTokenAt, message.fileToken);
}

void Append(base::ByteBuffer& out, ChunkRequest const& message) {
    Writer(out, chunk_request::kLayout, message.address)
        .BigEndian32(chunk_request::kIndexAt, message.chunkIndex)
        .Put(chunk_request::kRemoteName, message.remoteName);
}

void Append(base::ByteBuffer& out, FileRequest const& message) {
    Writer(out, file_request::kLayout, message.address)
        .Put(file_request::kRemoteName, message.remoteName);
}

void Append(base::ByteBuffer& out, ListRequest const& message) {
    Writer(out, list_request::kLayout, message.address)
        .Put(list_request::kListName, message.listName);
}

void Append(base::ByteBuffer& out, ServerAnnouncement const& message) {
    if (!message.capabilities) {
        Writer(out, announcement::kLayout, message.address)
            .Byte(announcement::kServiceCodeAt, message.serviceCode);
        return;
    }
    std::size_t const extra = announcement::kLengthWithCapabilities - announcement::kLayout.length;
    Writer(out, announcement::kLayout, message.address, extra)
        .Byte(announcement::kServiceCodeAt, message.serviceCode)
        .Put(announcement::kCapabilityTagAt, announcement::kCapabilityTag)
        .Byte(announcement::kCapabilityVersionAt, kCapabilityVersion)
        .BigEndian32(announcement::kCapabilitiesAt, *message.capabilities);
}

void Append(base::ByteBuffer& out, EntriesRequest const& message) {
    Writer(out, entries_request::kLayout, message.address)
        .Put(entries_request::kListName, message.listName)
        .BigEndian32(entries_request::kFirstEntryAt, message.firstEntry)
        .BigEndian32(entries_request::kCountAt, message.count);
}

void Append(base::ByteBuffer& out, StreamRequest const& message) {
    Writer(out, stream_request::kLayout, message.address)
        .BigEndian32(stream_request::kFirstChunkAt, message.firstChunk)
        .Put(stream_request::kRemoteName, message.remoteName);
}

std::size_t EncodedSize(ListEntry const& entry) {
    return list_entries::kFixedBytes + std::min(entry.localPath.size(), kLocalPathWidth) +
           std::min(entry.remoteName.size(), kRemoteNameWidth) +
           std::min<std::size_t>(entry.extra.size(), 255);
}

ListEntriesWriter::ListEntriesWriter(base::ByteBuffer& out, Address address,
                                     std::uint32_t firstEntry)
    : out_(out), address_(address), firstEntry_(firstEntry) {}

void ListEntriesWriter::Add(ListEntry const& entry) {
    if (entries_.size() + EncodedSize(entry) > list_entries::kEntriesRoom) {
        Flush(false);
    }
    Bytes const path = entry.localPath.first(std::min(entry.localPath.size(), kLocalPathWidth));
    Bytes const name = entry.remoteName.first(std::min(entry.remoteName.size(), kRemoteNameWidth));
    Bytes const extra = entry.extra.first(std::min<std::size_t>(entry.extra.size(), 255));
    std::size_t const at = entries_.size();
    entries_.resize(at + EncodedSize(entry));
    std::span<std::uint8_t> const encoded = std::span(entries_).subspan(at);
    encoded[list_entries::kActionAt] = entry.action;
    base::WriteBigEndian32(encoded, list_entries::kCrcAt, entry.crc);
    base::WriteBigEndian32(encoded, list_entries::kSizeAt, entry.size);
    encoded[list_entries::kLocalPathLengthAt] = static_cast<std::uint8_t>(path.size());
    std::size_t next = list_entries::kLocalPathLengthAt + 1;
    std::copy(path.begin(), path.end(), encoded.begin() + static_cast<std::ptrdiff_t>(next));
    next += path.size();
    base::WriteBigEndian16(encoded, next, static_cast<std::uint16_t>(name.size()));
    next += 2;
    std::copy(name.begin(), name.end(), encoded.begin() + static_cast<std::ptrdiff_t>(next));
    next += name.size();
    encoded[next++] = static_cast<std::uint8_t>(extra.size());
    std::copy(extra.begin(), extra.end(), encoded.begin() + static_cast<std::ptrdiff_t>(next));
    ++count_;
}

void ListEntriesWriter::Flush(bool endsList) {
    if (count_ == 0) {
        return;
    }
    Writer(out_, list_entries::kLayout, address_, entries_.size())
        .BigEndian32(list_entries::kFirstEntryAt, firstEntry_)
        .BigEndian16(list_entries::kCountAt, count_)
        .Byte(list_entries::kFlagsAt, endsList ? list_entries::kEndsList : 0)
        .Put(list_entries::kEntriesAt, entries_);
    firstEntry_ += count_;
    count_ = 0;
    entries_.clear();
}

void Append(base::ByteBuffer& out, FileDescription const& message) {
    Writer(out, description::kLayout, message.address)
        .Byte(description::kActionAt, message.action)
        .BigEndian32(description::kFileTokenAt, message.fileToken)
        .Put(description::kLocalPath, message.localPath)
        .Put(description::kRemoteName, message.remoteName)
        .BigEndian32(description::kCrcAt, message.crc);
}

void Append(base::ByteBuffer& out, DataChunk const& message) {
    Bytes const data = message.data.first(std::min(message.data.size(), kChunkDataMax));
    Writer(out, data_chunk::kLayout, message.address, data.size())
        .BigEndian32(data_chunk::kIndexAt, message.chunkIndex)
        .BigEndian16(data_chunk::kLengthAt, static_cast<std::uint16_t>(data.size()))
        .Put(data_chunk::kDataAt, data);
}

void Append(base::ByteBuffer& out, FileSize const& message) {
    // The reader expects the name to end inside its field.
    Bytes const name =
        message.fileName.first(std::min(message.fileName.size(), kFileSizeNameWidth - 1));
    Writer(out, file_size::kLayout, message.address)
        .Put(file_size::kFileName, name)
        .BigEndian32(file_size::kSizeAt, message.size);
}

void Append(base::ByteBuffer& out, ListSummary const& message) {
    Writer(out, summary::kLayout, message.address)
        .BigEndian32(summary::kListCrcAt, message.listCrc)
        .Put(summary::kListKey, message.listKey)
        .Put(summary::kNextList, message.nextList)
        .Byte(summary::kCompleteAt, message.complete);
}

std::optional<MessageHead> ReadMessageHead(Bytes frame) {
    if (frame.size() < kAddressBlockEnd) {
        return std::nullopt;
    }
    return MessageHead{frame[kTypeAt], base::ReadBigEndian32(frame, kSourceIdAt), frame[kKindAt]};
}

std::optional<LoginMessage> ReadLoginMessage(Bytes frame) {
    if (TooShort(frame, login::kLayout)) {
        return std::nullopt;
    }
    return LoginMessage{AddressOf(frame), base::ReadLittleEndian32(frame, login::kPeerEchoAt),
                        FieldOf(frame, login::kNetworkWord), FieldOf(frame, login::kClientName)};
}

std::optional<ServerQuery> ReadServerQuery(Bytes frame) {
    if (TooShort(frame, query::kLayout)) {
        return std::nullopt;
    }
    return ServerQuery{AddressOf(frame), frame[query::kServiceCodeAt]};
}

std::optional<AckMessage> ReadAckMessage(Bytes frame) {
    if (TooShort(frame, ack::kLayout)) {
        return std::nullopt;
    }
    return AckMessage{AddressOf(frame), FieldOf(frame, ack::kListName),
                      base::ReadBigEndian32(frame, ack::kFileTokenAt)};
}

std::optional<ChunkRequest> ReadChunkRequest(Bytes frame) {
    if (TooShort(frame, chunk_request::kLayout)) {
        return std::nullopt;
    }
    return ChunkRequest{AddressOf(frame), base::ReadBigEndian32(frame, chunk_request::kIndexAt),
                        FieldOf(frame, chunk_request::kRemoteName)};
}

std::optional<FileRequest> ReadFileRequest(Bytes frame) {
    if (TooShort(frame, file_request::kLayout)) {
        return std::nullopt;
    }
    return FileRequest{AddressOf(frame), FieldOf(frame, file_request::kRemoteName)};
}

std::optional<ListRequest> ReadListRequest(Bytes frame) {
    if (TooShort(frame, list_request::kLayout)) {
        return std::nullopt;
    }
    return ListRequest{AddressOf(frame), FieldOf(frame, list_request::kListName)};
}

std::optional<ServerAnnouncement> ReadServerAnnouncement(Bytes frame) {
    if (TooShort(frame, announcement::kLayout)) {
        return std::nullopt;
    }
    ServerAnnouncement read{AddressOf(frame), frame[announcement::kServiceCodeAt]};
    Bytes const tag = frame.subspan(std::min(frame.size(), announcement::kCapabilityTagAt));
    if (frame.size() >= announcement::kLengthWithCapabilities &&
        std::equal(announcement::kCapabilityTag.begin(), announcement::kCapabilityTag.end(),
                   tag.begin()) &&
        frame[announcement::kCapabilityVersionAt] >= kCapabilityVersion) {
        read.capabilities = base::ReadBigEndian32(frame, announcement::kCapabilitiesAt);
    }
    return read;
}

std::optional<EntriesRequest> ReadEntriesRequest(Bytes frame) {
    if (TooShort(frame, entries_request::kLayout)) {
        return std::nullopt;
    }
    return EntriesRequest{AddressOf(frame), FieldOf(frame, entries_request::kListName),
                          base::ReadBigEndian32(frame, entries_request::kFirstEntryAt),
                          base::ReadBigEndian32(frame, entries_request::kCountAt)};
}

std::optional<StreamRequest> ReadStreamRequest(Bytes frame) {
    if (TooShort(frame, stream_request::kLayout)) {
        return std::nullopt;
    }
    return StreamRequest{AddressOf(frame),
                         base::ReadBigEndian32(frame, stream_request::kFirstChunkAt),
                         FieldOf(frame, stream_request::kRemoteName)};
}

std::optional<FileDescription> ReadFileDescription(Bytes frame) {
    if (TooShort(frame, description::kLayout)) {
        return std::nullopt;
    }
    return FileDescription{AddressOf(frame),
                           frame[description::kActionAt],
                           base::ReadBigEndian32(frame, description::kFileTokenAt),
                           FieldOf(frame, description::kLocalPath),
                           FieldOf(frame, description::kRemoteName),
                           base::ReadBigEndian32(frame, description::kCrcAt)};
}

std::optional<DataChunk> ReadDataChunk(Bytes frame) {
    if (TooShort(frame, data_chunk::kLayout)) {
        return std::nullopt;
    }
    std::size_t const length = base::ReadBigEndian16(frame, data_chunk::kLengthAt);
    if (length > frame.size() - data_chunk::kDataAt) {
        return std::nullopt;
    }
    return DataChunk{AddressOf(frame), base::ReadBigEndian32(frame, data_chunk::kIndexAt),
                     frame.subspan(data_chunk::kDataAt, length)};
}

std::optional<FileSize> ReadFileSize(Bytes frame) {
    if (TooShort(frame, file_size::kLayout)) {
        return std::nullopt;
    }
    return FileSize{AddressOf(frame), FieldOf(frame, file_size::kFileName),
                    base::ReadBigEndian32(frame, file_size::kSizeAt)};
}

std::optional<ListSummary> ReadListSummary(Bytes frame) {
    if (TooShort(frame, summary::kLayout)) {
        return std::nullopt;
    }
    return ListSummary{AddressOf(frame), base::ReadBigEndian32(frame, summary::kListCrcAt),
                       FieldOf(frame, summary::kListKey), FieldOf(frame, summary::kNextList),
                       frame[summary::kCompleteAt]};
}

namespace {

// The size of the entry at the start of `bytes`; nothing when it does not lie wholly inside, or
// a name is longer than its field.
std::optional<std::size_t> EntrySize(Bytes bytes) {
    using namespace list_entries;
    if (bytes.size() < kFixedBytes) {
        return std::nullopt;
    }
    std::size_t const pathLength = bytes[kLocalPathLengthAt];
    std::size_t const nameLengthAt = kLocalPathLengthAt + 1 + pathLength;
    if (pathLength > kLocalPathWidth || nameLengthAt + 2 > bytes.size()) {
        return std::nullopt;
    }
    std::size_t const nameLength = base::ReadBigEndian16(bytes, nameLengthAt);
    std::size_t const extraLengthAt = nameLengthAt + 2 + nameLength;
    if (nameLength > kRemoteNameWidth || extraLengthAt + 1 > bytes.size()) {
        return std::nullopt;
    }
    std::size_t const size = extraLengthAt + 1 + bytes[extraLengthAt];
    if (size > bytes.size()) {
        return std::nullopt;
    }
    return size;
}

}  // namespace

std::optional<ListEntries> ReadListEntries(Bytes frame) {
    if (TooShort(frame, list_entries::kLayout)) {
        return std::nullopt;
    }
    ListEntries read{AddressOf(frame), base::ReadBigEndian32(frame, list_entries::kFirstEntryAt),
                     base::ReadBigEndian16(frame, list_entries::kCountAt),
                     (frame[list_entries::kFlagsAt] & list_entries::kEndsList) != 0,
                     frame.subspan(list_entries::kEntriesAt)};
    Bytes rest = read.entries;
    for (std::uint16_t i = 0; i < read.count; ++i) {
        std::optional<std::size_t> const size = EntrySize(rest);
        if (!size) {
            return std::nullopt;
        }
        rest = rest.subspan(*size);
    }
    if (!rest.empty() || read.count == 0) {
        return std::nullopt;
    }
    return read;
}

ListEntry TakeListEntry(Bytes& entries) {
    using namespace list_entries;
    std::size_t const pathLength = entries[kLocalPathLengthAt];
    std::size_t const nameLengthAt = kLocalPathLengthAt + 1 + pathLength;
    std::size_t const nameLength = base::ReadBigEndian16(entries, nameLengthAt);
    std::size_t const extraLengthAt = nameLengthAt + 2 + nameLength;
    ListEntry const entry{entries[kActionAt],
                          base::ReadBigEndian32(entries, kCrcAt),
                          base::ReadBigEndian32(entries, kSizeAt),
                          entries.subspan(kLocalPathLengthAt + 1, pathLength),
                          entries.subspan(nameLengthAt + 2, nameLength),
                          entries.subspan(extraLengthAt + 1, entries[extraLengthAt])};
    entries = entries.subspan(extraLengthAt + 1 + entries[extraLengthAt]);
    return entry;
}

std::string_view FieldText(Bytes field) {
    auto const end = std::find(field.begin(), field.end(), std::uint8_t{0});
    return base::AsText(field.first(static_cast<std::size_t>(end - field.begin())));
}

ListNameField MakeListName(std::string_view text) {
    ListNameField field{};
    std::copy_n(text.begin(), std::min(text.size(), field.size()), field.begin());
    return field;
}

}  // namespace qm::update
