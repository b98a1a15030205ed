#include "support/conversation.h"

namespace qm::test {

Bytes Opening(Peers const& peers) {
    return Joined({Welcome(peers.welcomeSender, peers.client),
                   ServerAnnouncement(peers.server, peers.client)});
}

Bytes Description(std::uint8_t action, std::uint32_t token, std::string_view localPath,
                  std::string_view remoteName, std::uint32_t crc, Peers const& peers) {
    return FileDescription({.sender = peers.fileSender,
                            .destination = peers.client,
                            .action = action,
                            .fileToken = token,
                            .localPath = localPath,
                            .remoteName = remoteName,
                            .crc = crc});
}

Bytes Completion(Peers const& peers) {
    return Summary(0, "", "", 1, peers);
}

Bytes SizeFrame(std::string_view name, std::size_t size, Peers const& peers) {
    return FileSize(peers.fileSender, peers.client, name, static_cast<std::uint32_t>(size));
}

Bytes Delivery(std::string_view remoteName, std::span<const std::uint8_t> content,
               Peers const& peers) {
    Bytes stream = SizeFrame(remoteName, content.size(), peers);
    auto const chunks = static_cast<std::uint32_t>((content.size() + kChunkSize - 1) / kChunkSize);
    for (std::uint32_t index = 0; index <= chunks; ++index) {  // the last one is the empty chunk
        Append(stream, DataChunk(peers.fileSender, peers.client, index, ChunkOf(content, index)));
    }
    return stream;
}

Bytes Summary(std::uint32_t listCrc, std::string_view listKey, std::string_view nextList,
              std::uint8_t complete, Peers const& peers) {
    return ListSummary(peers.server, peers.client, listCrc, listKey, nextList, complete);
}

::testing::AssertionResult Conversation::ExpectFrame(std::string const& what,
                                                     Bytes const& expected) {
    auto const received = server_.Expect(expected);
    if (received) {
        return received;
    }
    return ::testing::AssertionFailure() << what << ": " << received.message();
}

::testing::AssertionResult Conversation::LogIn() {
    auto step = server_.Accept();
    step = step ? server_.Send(Welcome(peers_.welcomeSender, peers_.client)) : step;
    step = step ? ExpectFrame("login", LoginMessage(peers_.client, peers_.welcomeSender)) : step;
    return step ? ExpectFrame("server query", ServerQuery(peers_.client)) : step;
}

::testing::AssertionResult Conversation::Announce() {
    auto const sent = server_.Send(ServerAnnouncement(peers_.server, peers_.client));
    if (!sent) {
        return sent;
    }
    listName = "quillmesh.ini";
    return ExpectFrame("first list request", ListRequestFor(listName));
}

::testing::AssertionResult Conversation::Open() {
    auto const login = LogIn();
    return login ? Announce() : login;
}

::testing::AssertionResult Conversation::OpenList(std::uint32_t token) {
    auto const opened = Open();
    return opened ? Begin(token) : opened;
}

Bytes Conversation::Description(std::uint8_t action, std::uint32_t token,
                                std::string_view localPath, std::string_view remoteName,
                                std::uint32_t crc) const {
    return qm::test::Description(action, token, localPath, remoteName, crc, peers_);
}

::testing::AssertionResult Conversation::SendDescription(std::uint8_t action, std::uint32_t token,
                                                         std::string_view localPath,
                                                         std::string_view remoteName,
                                                         std::uint32_t crc) {
    return server_.Send(Description(action, token, localPath, remoteName, crc));
}

Bytes Conversation::Ack(std::uint32_t token) const {
    return AckMessage(peers_.client, peers_.server, listName, token);
}

::testing::AssertionResult Conversation::ExpectAck(std::uint32_t token) {
    return ExpectFrame("acknowledgement of token " + std::to_string(token), Ack(token));
}

Bytes Conversation::ListRequestFor(std::string_view name) const {
    return ListRequest(peers_.client, peers_.server, name);
}

::testing::AssertionResult Conversation::Begin(std::uint32_t token) {
    auto const sent = SendDescription(0, token, "");
    return sent ? ExpectAck(token) : sent;
}

::testing::AssertionResult Conversation::SendFileSize(std::string_view name, std::uint32_t size) {
    return server_.Send(SizeFrame(name, size, peers_));
}

::testing::AssertionResult Conversation::SendData(std::uint32_t index,
                                                  std::span<const std::uint8_t> data) {
    return server_.Send(DataChunk(peers_.fileSender, peers_.client, index, data));
}

::testing::AssertionResult Conversation::ExpectDownloadRequest(std::string_view remoteName,
                                                               std::uint32_t firstChunk) {
    auto const file =
        ExpectFrame("file request", FileRequest(peers_.client, peers_.server, remoteName));
    return file ? ExpectChunkRequest(remoteName, firstChunk) : file;
}

::testing::AssertionResult Conversation::ExpectChunkRequest(std::string_view remoteName,
                                                            std::uint32_t index) {
    return ExpectFrame("request of chunk " + std::to_string(index),
                       ChunkRequest(peers_.client, peers_.fileSender, index, remoteName));
}

::testing::AssertionResult Conversation::OfferChanged(std::uint32_t token,
                                                      std::string_view localPath,
                                                      std::string_view remoteName,
                                                      std::uint32_t crc) {
    auto const sent = SendDescription(1, token, localPath, remoteName, crc);
    return sent ? ExpectDownloadRequest(remoteName) : sent;
}

::testing::AssertionResult Conversation::SendChunk(std::string_view remoteName, std::uint32_t index,
                                                   std::span<const std::uint8_t> data) {
    auto const sent = SendData(index, data);
    return sent ? ExpectChunkRequest(remoteName, index + 1) : sent;
}

::testing::AssertionResult Conversation::SendFile(std::string_view remoteName,
                                                  std::span<const std::uint8_t> content,
                                                  std::uint32_t token) {
    auto const sent = SendFileSize(remoteName, static_cast<std::uint32_t>(content.size()));
    return sent ? SendContent(remoteName, content, token) : sent;
}

::testing::AssertionResult Conversation::SendContent(std::string_view remoteName,
                                                     std::span<const std::uint8_t> content,
                                                     std::uint32_t token) {
    std::uint32_t index = 0;
    for (; index * kChunkSize < content.size(); ++index) {
        if (auto chunk = SendChunk(remoteName, index, ChunkOf(content, index)); !chunk) {
            return chunk;
        }
    }
    auto const sent = SendData(index, {});
    return sent ? ExpectAck(token) : sent;
}

::testing::AssertionResult Conversation::Finish() {
    return server_.Send(Summary(0, listName, "", 1, peers_));
}

::testing::AssertionResult Conversation::Complete() {
    auto const finished = Finish();
    return finished ? server_.ExpectClosed() : finished;
}

}  // namespace qm::test
