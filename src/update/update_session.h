// The client side of one update run as a state machine without I/O: events and whole frames in,
// frames to send and window operations out. It logs in after the WELCOME, waits for the update
// server, walks the server's file lists, compares checksums, downloads changed files chunk by
// chunk, deletes marked files and records list checksums in ./crc.ini. The sockets are the
// business of UpdateConnection, which feeds it and sends what it leaves in outgoing().
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "update/download.h"
#include "update/messages.h"
#include "update/run_plan.h"
#include "update/session_window.h"

namespace qm::update {

inline constexpr char kFirstListName[] = "quillmesh.ini";

// The ids that the server's WELCOME gave the link.
struct LinkIds {
    std::uint32_t from_me = 0;  // the client's own id
    std::uint32_t peerId = 0;   // the WELCOME's sender
    bool accepted = true;       // false for a WELCOME that was refused
};

class UpdateSession {
  public:
    explicit UpdateSession(SessionWindow& window);

    // How many chunk requests may be outstanding once a download's size is known (1 to 256; 1 is
    // stop-and-wait). Requests never go beyond the empty chunk that ends the file.
    void SetRequestWindow(unsigned window) { requestWindow_ = window; }
    // APPLY=run: files, deletions and list records wait for the completion of the whole run and
    // are then committed together (see commit_journal.h); otherwise each takes effect at once.
    void SetApplyWholeRun(bool wholeRun);

    // ---- Events of the connection -------------------------------------------------------------
    // The connect ended well; the first bytes of the connection will carry the WELCOME.
    void OnConnected();
    // No connect could be started: the name cannot be resolved, or no socket could be made.
    void OnUnreachable();
    // The connect ended with an error.
    void OnConnectFailed();
    // The TLS handshake failed, took too long, or the server's key matched no pin.
    void OnServerNotVerified();
    // The connected socket could not be watched for data.
    void OnReceiveFailed();
    // The first bytes arrived, but the handshake had no socket to bind the link to.
    void OnDialUpFailed();
    // The first bytes arrived and the handshake has begun: the WELCOME must complete in time.
    void OnHandshakeBegun();
    // The first whole frame was checked as the WELCOME; `ids` are those it gave (0, and not
    // accepted, when it was refused, in which case the link drops what the session sends and the
    // no-response timer ends the run).
    void OnWelcome(LinkIds ids);
    // One whole frame from the server, from its first length byte. Returns 0.
    int HandleMessage(Bytes frame);
    // A length field that is no frame arrived; the byte stream is broken.
    void OnFrameError(unsigned length);
    // The connection is gone: closed by the server, or a send on it failed. Ends the run once,
    // however often it is reported, unless the window connects again.
    void OnLinkLost();
    // The server stayed silent for longer than the stall limit while the updater waited for it.
    void OnStalled();

    // A connection lost after the run's first WELCOME (closed, a failed send, the stall limit, a
    // connect that failed) may be made again (SessionWindow::ConnectAgain): the session then
    // forgets the connection and walks the lists again on the next one.

    // ---- What the session wants sent ----------------------------------------------------------
    // Whole frames laid end to end, in the order they must go out.
    Bytes outgoing() const { return outgoing_; }
    void ClearOutgoing() { outgoing_.clear(); }
    // Called while a data chunk is handled, once the request for the next chunk is in outgoing()
    // and before the chunk is written: sending it then lets the writing overlap the server's
    // answer. Without it, what a frame leads to goes out after the frame is handled, in the same
    // order.
    void SetEarlySend(std::function<void()> send) { earlySend_ = std::move(send); }

    bool serverDetected() const { return serverDetected_; }
    // The handshake has begun and the update server has not announced itself yet: the
    // no-response timer decides how long the updater waits.
    bool awaitingAnnouncement() const { return handshakeBegun_ && !serverDetected_; }

  private:
    // Whether the window connects again after a loss; if so, the session is ready for it.
    bool RetryConnection();
    // The walk moved on: a file or list settled, or data that the run did not have yet.
    void NoteSettled();
    void NoteData();
    std::uint32_t RecordedChecksum(std::string_view listName) const;
    // APPLY=run: the completed run's plan goes into effect; false (the run ended) when it cannot.
    bool CommitRun();
    void Login();
    void OnServerAnnouncement(Bytes frame);
    void OnFileDescription(Bytes frame);
    void OnDataChunk(Bytes frame);
    void OnFileSize(Bytes frame);
    void OnListSummary(Bytes frame);

    void BeginList();
    void CheckFile(FileDescription const& description);
    void RecordList(FileDescription const& description);
    // Records the list's checksum (held back with APPLY=run) and asks for the next list: `next`
    // for SwitchList, the same one for RepeatList.
    void EndList(std::uint8_t listAction, std::uint32_t crc, Bytes next);
    void DeleteFile(FileDescription const& description);
    // False when the path was refused (the run ended).
    bool DeleteLocalFile(std::string_view localPath);
    void ReportTransfer();
    void StoreChunk(DataChunk const& chunk);
    void FinishDownload();
    // The download under way stops: kept for a later run when it is resumable.
    void DropDownload();
    // The download under way is damaged or failed: its file and record go.
    void DiscardDownload();
    // What an earlier run kept of the file under way goes, and the download starts again from
    // chunk 0.
    void ForgetKeptChunks();
    static bool WorthResuming(std::uint32_t size);
    static bool IsSafeServerPath(std::string_view localPath);
    // What the walk does about a file the server describes: nothing (it is current, or staged
    // already), or a download, which may go on from what an earlier run kept. An unsafe path
    // ends the run (Refused).
    struct FileCheck {
        enum class Verdict { Refused, Current, Staged, Download };
        Verdict verdict;
        std::string targetPath{};
        std::uint32_t firstChunk = 0;
        std::optional<std::string> partialPath{};
    };
    FileCheck CheckLocalFile(std::string_view localPath, std::uint32_t crc);
    // The download that `check` found needed becomes the one under way.
    void BeginDownload(FileCheck const& check);
    static std::uint32_t ChunksKeptFor(std::string const& target,
                                       std::optional<std::string> const& partialPath,
                                       std::uint32_t crc);

    // ---- The fast path, with a server that announced capability::kFastPath (see
    // update_session_entries.cpp): the list's entries in a few frames, the files that differ
    // asked for as streams, the list acknowledged as a whole by the request for the next. ----
    void OnListEntries(Bytes frame);
    // Asks for more entries while the budget of entries and streams under way allows.
    void AskForEntries();
    // False when the entry ended the run.
    bool HandleEntry(ListEntry const& entry);
    void AskForStream(FileCheck const& check, std::string_view remoteName, std::uint32_t crc);
    // The next stream asked for becomes the download under way.
    void StartNextStream();
    void OnStreamChunk(DataChunk const& chunk);
    void EndStream();
    // Once the list's end entry is handled and its streams are done: its record, and the request
    // for the next list.
    void FinishEntriesWalk();
    void ResetEntriesWalk();
    std::optional<Download> OpenDownload(std::uint32_t index);
    bool RoomOnDiskFor(std::uint64_t bytes) const;
    // The verified download of targetPath_: installed, or staged for the commit.
    Download::Result CompleteDownload();

    void SendAck();
    void SendListRequest(Bytes name);
    void SendChunkRequest(std::uint32_t destination, std::uint32_t index);
    // Asks for the next chunk, or for chunks ahead up to the window once the size is known.
    void RequestMoreChunks();
    // Requests chunks ahead up to the window, once the size is known.
    void TopUpRequests();
    Address ToServer() const { return {ids_.from_me, serverId_}; }

    // Counts an error and ends the run with its box.
    void Fail(Ending const& ending);
    void RejectInvalidFrame(std::string_view what);

    SessionWindow& window_;
    base::ByteBuffer outgoing_;
    std::function<void()> earlySend_;
    LinkIds ids_;
    bool handshakeBegun_ = false;
    bool linkLost_ = false;
    unsigned requestWindow_ = 1;
    // APPLY=run: what the completion of the run commits.
    std::optional<RunPlan> plan_;

    // Across the connections of one run.
    bool welcomed_ = false;      // a WELCOME was accepted
    unsigned settled_ = 0;       // files and lists settled on this connection
    unsigned mostSettled_ = 0;   // ... on the best connection before it
    std::uint64_t dataHad_ = 0;  // bytes of the download under way that the run had already
    std::map<std::string, std::uint64_t> dataHadOf_;  // the same for every file begun

    // Session state.
    bool serverDetected_ = false;
    std::uint32_t serverId_ = 0;
    std::uint32_t fileToken_ = 0;
    std::uint32_t chunkCounter_ = 0;
    std::uint32_t fileSize_ = 0;
    std::string targetPath_;
    RemoteNameField remoteName_{};
    ListNameField listName_{};

    // The download under way: requested after a checksum differed, its temporary file created by
    // chunk 0, installed by the empty chunk.
    bool downloadRequested_ = false;
    std::uint32_t expectedCrc_ = 0;
    std::uint32_t nextRequest_ = 0;           // index of the next chunk to request
    std::uint32_t resumeIndex_ = 0;           // the first chunk an earlier run did not keep
    std::optional<std::string> partialPath_;  // where the download is kept, when resumable
    // A request still to be answered for a kept part that was dropped since; its answer is not
    // part of the download.
    std::optional<std::uint32_t> supersededRequest_;
    std::uint32_t requestDestination_ = 0;  // whom chunk requests go to
    // The size that a FileSize announced for the file under way; more data than that is refused,
    // so that a server cannot fill the disk with a file announced as small.
    std::optional<std::uint32_t> announcedSize_;
    std::optional<Download> download_;
    // Directories already cleared of temporary files that a killed run left behind.
    std::set<std::string> sweptDirectories_;

    // The fast path on this connection.
    struct Stream {
        std::string targetPath;
        std::string remoteName;
        std::uint32_t crc = 0;
        std::uint32_t firstChunk = 0;
        std::optional<std::string> partialPath;
    };
    struct ListEnd {
        std::uint8_t action = 0;
        std::uint32_t crc = 0;
        ListNameField next{};
    };
    bool fastPath_ = false;
    bool walkingEntries_ = false;     // the list under way comes as entries
    std::uint32_t entriesAsked_ = 0;  // entries of the list asked for so far
    std::uint32_t entriesTaken_ = 0;  // ... and received
    std::optional<ListEnd> listEnd_;  // the list's end entry, once it came
    std::deque<Stream> streams_;      // asked for, after the one under way
    bool streamUnderWay_ = false;     // the download under way is a stream
    bool streamDiscarded_ = false;    // ... whose chunks are not used (asked for again from 0)
};

}  // namespace qm::update
