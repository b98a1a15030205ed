// The usual steps of a conversation with the updater, on top of a ScriptedServer: each step sends
// the server's frames and checks every frame the updater answers with, byte for byte. The test
// keeps the list name that the updater is walking in `listName`, as the server knows it.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "support/scripted_server.h"
#include "support/wire.h"

namespace qm::test {

// Whole frame streams as a server sends them, for the given peers.
Bytes Opening(Peers const& peers = {});  // the WELCOME and the announcement of the update server
Bytes Description(std::uint8_t action, std::uint32_t token, std::string_view localPath,
                  std::string_view remoteName, std::uint32_t crc, Peers const& peers = {});
Bytes Completion(Peers const& peers = {});
// A FileSize from the file sender.
Bytes SizeFrame(std::string_view name, std::size_t size, Peers const& peers = {});
// The FileSize, the whole content chunk by chunk and the empty chunk, without waiting for requests.
Bytes Delivery(std::string_view remoteName, std::span<const std::uint8_t> content,
               Peers const& peers = {});
// A ListSummary from the announced update server.
Bytes Summary(std::uint32_t listCrc, std::string_view listKey, std::string_view nextList,
              std::uint8_t complete = 0, Peers const& peers = {});

class Conversation {
  public:
    explicit Conversation(ScriptedServer& server, Peers peers = {})
        : server_(server), peers_(peers) {}

    ScriptedServer& server() { return server_; }
    Peers const& peers() const { return peers_; }

    // Accepts, sends the WELCOME, checks the login and the query.
    ::testing::AssertionResult LogIn();
    // Announces the update server and checks the request for "quillmesh.ini".
    ::testing::AssertionResult Announce();
    // Both.
    ::testing::AssertionResult Open();
    // Both, and begins the first list with `token`.
    ::testing::AssertionResult OpenList(std::uint32_t token);

    // A FileDescription from the file sender.
    Bytes Description(std::uint8_t action, std::uint32_t token, std::string_view localPath,
                      std::string_view remoteName = "", std::uint32_t crc = 0) const;
    ::testing::AssertionResult SendDescription(std::uint8_t action, std::uint32_t token,
                                               std::string_view localPath,
                                               std::string_view remoteName = "",
                                               std::uint32_t crc = 0);

    // The acknowledgement the updater owes for `token` on the current list.
    Bytes Ack(std::uint32_t token) const;
    ::testing::AssertionResult ExpectAck(std::uint32_t token);
    Bytes ListRequestFor(std::string_view name) const;

    // Action 0, answered by an acknowledgement.
    ::testing::AssertionResult Begin(std::uint32_t token);

    // A FileSize and a DataChunk from the file sender, as they are: nothing expected back.
    ::testing::AssertionResult SendFileSize(std::string_view name, std::uint32_t size);
    ::testing::AssertionResult SendData(std::uint32_t index, std::span<const std::uint8_t> data);

    // The FileRequest and the request for chunk `firstChunk` (0 but for a resumed download)
    // that a changed file brings.
    ::testing::AssertionResult ExpectDownloadRequest(std::string_view remoteName,
                                                     std::uint32_t firstChunk = 0);
    // The request for chunk `index` of a download.
    ::testing::AssertionResult ExpectChunkRequest(std::string_view remoteName, std::uint32_t index);
    // Describes a file (action 1) whose checksum differs from the local copy's; the updater asks
    // for it.
    ::testing::AssertionResult OfferChanged(std::uint32_t token, std::string_view localPath,
                                            std::string_view remoteName, std::uint32_t crc);
    // Chunk `index` of a download with `data`, answered by the request for the next chunk.
    ::testing::AssertionResult SendChunk(std::string_view remoteName, std::uint32_t index,
                                         std::span<const std::uint8_t> data);
    // FileSize, then the whole content chunk by chunk, then the empty chunk, answered by the
    // acknowledgement for `token`.
    ::testing::AssertionResult SendFile(std::string_view remoteName,
                                        std::span<const std::uint8_t> content, std::uint32_t token);
    // The same without the FileSize.
    ::testing::AssertionResult SendContent(std::string_view remoteName,
                                           std::span<const std::uint8_t> content,
                                           std::uint32_t token);

    // The completion summary; the updater ends the run without answering.
    ::testing::AssertionResult Finish();
    // The completion summary, and the updater closes the connection without another frame.
    ::testing::AssertionResult Complete();

    std::string listName = "quillmesh.ini";

  private:
    // The frame `expected` next; a failure names it as `what`.
    ::testing::AssertionResult ExpectFrame(std::string const& what, Bytes const& expected);

    ScriptedServer& server_;
    Peers peers_;
};

}  // namespace qm::test
