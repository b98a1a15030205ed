// One updater's conversation with the server, from the WELCOME to the last reply: it reads whole
// frames, answers into the connection's outbox and decides when to hang up. It knows nothing of
// sockets.
//
// After the login and the query for the update service, the updater asks for a list; the server
// sends the list's summary. If the updater acknowledges it (its recorded checksum differs), the
// server walks the list, one description per acknowledgement: the begin, one per file, one per
// deletion, and the end, which carries the list's checksum and names the next list. In between,
// the updater may fetch a file: its size, then chunk after chunk until the empty one.
//
// The server announces the fast path (docs/protocol.md): an updater that uses it asks for a list's
// entries and for files as streams. Their answers can be long (a whole file), so they are not
// written at once: each waits in a queue, and Produce writes the next frames of the first one as
// the connection has room.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <span>
#include <variant>

#include "net/outbox.h"
#include "update/messages.h"
#include "update_server/catalog_shelf.h"
#include "update_server/chunk_reader.h"
#include "update_server/outcome.h"
#include "update_server/server_log.h"

namespace qm::server {

inline constexpr char kNetworkWord[] = "FENWARDIX";

// Who sends a message and to whom.
using Addressing = update::Address;

class ClientConversation {
  public:
    enum class Verdict { Continue, HangUp };

    // `replies` addresses every message from the server's id to the client's. The conversation
    // is served the catalog on the shelf now, whatever replaces it later.
    // It announces `capabilities` (update::capability), and answers the fast path's requests
    // only when it announced it.
    ClientConversation(Addressing replies, CatalogShelf const& shelf, ClientLog& log,
                       net::Outbox& out,
                       std::uint32_t capabilities = update::capability::kFastPath);

    // Queues the WELCOME that gives the client its id.
    void Welcome();

    Verdict Handle(std::span<const std::uint8_t> frame);

    // Answers wait to be produced.
    bool HasMoreToSend() const { return !answers_.empty(); }
    // Writes the waiting answers' frames until the outbox holds `bound` bytes or none waits.
    // HangUp when a file cannot be read.
    Verdict Produce(std::size_t bound);

    bool loggedIn() const { return loggedIn_; }

  private:
    // Where the walk of the list last summarised stands.
    struct ListWalk {
        enum class Step { SummarySent, Describing, Ended };
        FileList const* list = nullptr;  // within catalog_; nullptr when no list is on the way
        Step step = Step::Ended;
        std::size_t nextEntry = 0;  // index among the list's files, then its deletions
    };

    Verdict OnNetworkMessage(std::uint8_t kind, std::span<const std::uint8_t> frame);
    Verdict OnUpdateMessage(std::uint8_t kind, std::span<const std::uint8_t> frame);
    Verdict OnLogin(std::span<const std::uint8_t> frame);
    Verdict OnServerQuery(std::span<const std::uint8_t> frame);
    Verdict OnListRequest(std::span<const std::uint8_t> frame);
    Verdict OnAck(std::span<const std::uint8_t> frame);
    Verdict OnFileRequest(std::span<const std::uint8_t> frame);
    Verdict OnChunkRequest(std::span<const std::uint8_t> frame);
    Verdict OnEntriesRequest(std::span<const std::uint8_t> frame);
    Verdict OnStreamRequest(std::span<const std::uint8_t> frame);

    // Entries [next, end) of a list, its end entry included when `end` reaches it.
    struct EntriesAnswer {
        FileList const* list;
        std::size_t next;
        std::size_t end;
    };
    // A file from chunk `next` on: its size first, the empty chunk last.
    struct StreamAnswer {
        ReleaseFile const* file;
        std::uint32_t next;
        bool sizeSent = false;
    };
    // Writes the next frame of the answer; false once it is done.
    bool ProduceEntries(EntriesAnswer& answer);
    Outcome<bool> ProduceStream(StreamAnswer& answer);
    static update::ListEntry EntryOf(FileList const& list, std::size_t index);

    void DescribeNext();
    ReleaseFile const* FindFile(std::string_view remoteName) const;
    Verdict Refuse(std::string const& reason);
    template <typename Message>
    void Send(Message const& message) {
        update::Append(out_.frames(), message);
    }

    Addressing replies_;
    std::uint32_t capabilities_;
    ClientLog& log_;
    net::Outbox& out_;
    ChunkReader chunks_;
    bool loggedIn_ = false;
    std::shared_ptr<ReleaseCatalog const> catalog_;  // the release this connection is served
    bool listRequested_ = false;  // files are looked up only from the first list request on
    ListWalk walk_;
    std::deque<std::variant<EntriesAnswer, StreamAnswer>> answers_;  // of the fast path
    std::size_t streamsWaiting_ = 0;
};

}  // namespace qm::server
