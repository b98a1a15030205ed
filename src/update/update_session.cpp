#include "update/update_session.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <string>

#include "base/directory.h"
#include "base/file_system.h"
#include "checksum/checksum.h"
#include "store/directory_chain.h"
#include "store/path_check.h"
#include "update/checksum_record.h"
#include "update/commit_journal.h"
#include "update/display_text.h"
#include "update/partial_downloads.h"
#include "update/staged_files.h"

namespace qm::update {
namespace {

constexpr char kNetworkWord[] = "FENWARDIX";
constexpr char kClientName[] = "Uploader";
constexpr unsigned long kCountedChunkBytes = kChunkDataMax;
constexpr std::string_view kReceived = " bytes received  (";
constexpr std::string_view kPercent = " %)";

}  // namespace

UpdateSession::UpdateSession(SessionWindow& window) : window_(window) {
    // One message per chunk must not cost an allocation: the largest output of one event is
    // a file request and the request for chunk 0.
    outgoing_.reserve(4096);
}

void UpdateSession::SetApplyWholeRun(bool wholeRun) {
    if (wholeRun) {
        plan_.emplace();
    } else {
        plan_.reset();
    }
}

// ---- Events of the connection ------------------------------------------------------------------

void UpdateSession::OnConnected() {
    serverDetected_ = false;
    window_.ShowStatus("connection succesfull");
}

void UpdateSession::OnUnreachable() {
    window_.ShowStatus("connection failed");
    if (RetryConnection()) {
        return;
    }
    window_.EndWithMessage(endings::NetworkError("unable to connect to the server"));
}

void UpdateSession::OnServerNotVerified() {
    window_.EndWithMessage(endings::ServerNotVerified());
}

void UpdateSession::OnConnectFailed() {
    if (RetryConnection()) {
        return;
    }
    window_.EndWithMessage(endings::NetworkError("unable to join the server :-("));
}

void UpdateSession::OnReceiveFailed() {
    window_.EndWithMessage(endings::NetworkError("unable to receive from the server"));
}

void UpdateSession::OnDialUpFailed() {
    window_.EndWithMessage(endings::NetworkError("Dial-up with the server failed :-("));
}

void UpdateSession::OnHandshakeBegun() {
    handshakeBegun_ = true;
    // A WELCOME that never completes must not keep the run waiting for ever.
    window_.StartResponseTimer();
}

void UpdateSession::OnWelcome(LinkIds ids) {
    ids_ = ids;
    welcomed_ = welcomed_ || ids.accepted;
    // Sent whether or not the WELCOME was valid: a refused link drops both, and the no-response
    // timer ends the run.
    Login();
}

void UpdateSession::OnFrameError(unsigned length) {
    DropDownload();
    Fail(endings::NetworkError("invalid data from the server (frame length " +
                               std::to_string(length) + ")"));
}

void UpdateSession::OnLinkLost() {
    if (linkLost_) {
        return;
    }
    linkLost_ = true;
    DropDownload();
    if (RetryConnection()) {
        return;
    }
    Fail(endings::ConnectionLost());
}

void UpdateSession::OnStalled() {
    DropDownload();
    if (RetryConnection()) {
        return;
    }
    window_.EndWithMessage(endings::NoResponse());
}

bool UpdateSession::RetryConnection() {
    if (!welcomed_ || !window_.ConnectAgain()) {
        return false;
    }
    // What the next connection needs is what a first one does; what was done stays done.
    DropDownload();
    handshakeBegun_ = false;
    linkLost_ = false;
    serverDetected_ = false;
    ids_ = {};
    outgoing_.clear();
    ResetEntriesWalk();
    fastPath_ = false;
    mostSettled_ = std::max(mostSettled_, settled_);
    settled_ = 0;
    return true;
}

void UpdateSession::NoteSettled() {
    if (++settled_ > mostSettled_) {
        window_.NoteProgress();
    }
}

void UpdateSession::NoteData() {
    if (download_ && download_->bytesWritten() > dataHad_) {
        dataHad_ = download_->bytesWritten();
        window_.NoteProgress();
    }
}

void UpdateSession::Login() {
    Append(outgoing_, LoginMessage{{ids_.from_me, ids_.peerId},
                                   ids_.peerId,
                                   base::AsBytes(kNetworkWord),
                                   base::AsBytes(kClientName)});
    Append(outgoing_, ServerQuery{{ids_.from_me, kServerQueryDestination}, kUpdateService});
    window_.StartResponseTimer();
}

// ---- Frames ------------------------------------------------------------------------------------

int UpdateSession::HandleMessage(Bytes frame) {
    std::optional<MessageHead> const head = ReadMessageHead(frame);
    if (!head) {
        return 0;
    }
    if (head->type == kNetworkFrame) {
        if (head->kind == kind::ServerAnnouncement) {
            OnServerAnnouncement(frame);
        }
        return 0;
    }
    if (head->type != kUpdateFrame) {
        return 0;
    }
    switch (head->kind) {
        case kind::FileDescription:
            OnFileDescription(frame);
            break;
        case kind::ListEntries:
            if (fastPath_) {  // a kind no other server sends, ignored as any unknown kind
                OnListEntries(frame);
            }
            break;
        case kind::DataChunk:
            OnDataChunk(frame);
            break;
        case kind::FileSize:
            OnFileSize(frame);
            break;
        case kind::ListSummary:
            OnListSummary(frame);
            break;
        default:
            break;
    }
    return 0;
}

void UpdateSession::OnServerAnnouncement(Bytes frame) {
    std::optional<ServerAnnouncement> const announcement = ReadServerAnnouncement(frame);
    if (!announcement) {
        return RejectInvalidFrame("server announcement");
    }
    if (serverDetected_ || announcement->serviceCode != kUpdateService) {
        return;
    }
    fileToken_ = 0;
    serverId_ = announcement->address.sourceId;
    serverDetected_ = true;
    fastPath_ =
        (announcement->capabilities.value_or(0) & capability::kFastPath) == capability::kFastPath;
    window_.StopResponseTimer();
    window_.ShowStatus("Update Server Detected.");
    RemoveChecksumRecordLeftovers();
    if (plan_) {
        plan_->Clear();  // what the run commits is what this walk announces
    }
    listName_ = MakeListName(kFirstListName);
    window_.ShowStatus("requesting files ...");
    SendListRequest(listName_);
}

// ---- File descriptions -------------------------------------------------------------------------

void UpdateSession::OnFileDescription(Bytes frame) {
    std::optional<FileDescription> const description = ReadFileDescription(frame);
    // A server that walks its lists by entries sends none.
    if (!description || fastPath_) {
        return RejectInvalidFrame("file description");
    }
    window_.ShowStatus(DisplayLine("Checking ", FieldText(description->remoteName), " ..."));
    fileToken_ = description->fileToken;
    switch (description->action) {
        case action::Begin:
            return BeginList();
        case action::CheckFile:
            return CheckFile(*description);
        case action::SwitchList:
        case action::RepeatList:
            return RecordList(*description);
        case action::DeleteFile:
            return DeleteFile(*description);
        default:
            return;
    }
}

void UpdateSession::BeginList() {
    // The checksum table is built at compile time; asking for it here keeps the step visible.
    checksum::BuildCrcTable();
    SendAck();
}

void UpdateSession::CheckFile(FileDescription const& description) {
    std::copy(description.remoteName.begin(), description.remoteName.end(), remoteName_.begin());
    // A new description replaces any download still under way.
    DropDownload();
    announcedSize_.reset();
    FileCheck const check = CheckLocalFile(FieldText(description.localPath), description.crc);
    if (check.verdict == FileCheck::Verdict::Refused) {
        return;
    }
    targetPath_ = check.targetPath;
    chunkCounter_ = 0;
    expectedCrc_ = description.crc;
    if (check.verdict != FileCheck::Verdict::Download) {
        window_.SetProgress(0);
        SendAck();
        return;
    }
    BeginDownload(check);
    Append(outgoing_, FileRequest{ToServer(), remoteName_});
    requestDestination_ = description.address.sourceId;
    nextRequest_ = resumeIndex_;
    SendChunkRequest(requestDestination_, nextRequest_++);
}

UpdateSession::FileCheck UpdateSession::CheckLocalFile(std::string_view localPath,
                                                       std::uint32_t crc) {
    if (!IsSafeServerPath(localPath)) {
        Fail(
            endings::DiskAccessError(DisplayLine("Unsafe file path refused: ", localPath, " ...")));
        return {FileCheck::Verdict::Refused};
    }
    std::string target = store::CreateDirectoryChain(localPath);
    if (std::string directory = base::DirectoryOf(target);
        sweptDirectories_.insert(directory).second) {
        Download::RemoveLeftovers(directory);
        RemoveUnrecordedPartials(directory);
    }
    if (checksum::FileCrc32(target) == crc) {
        if (plan_) {
            DiscardStaged(target);
        }
        return {FileCheck::Verdict::Current, std::move(target)};
    }
    if (plan_) {
        if (StagedChecksum(target) == crc) {
            // Downloaded and verified before; it waits for the commit.
            plan_->Install(target);
            return {FileCheck::Verdict::Staged, std::move(target)};
        }
        DiscardStaged(target);
    }
    FileCheck check{FileCheck::Verdict::Download, std::move(target)};
    check.partialPath = PartialPathOf(check.targetPath);
    check.firstChunk = ChunksKeptFor(check.targetPath, check.partialPath, crc);
    return check;
}

void UpdateSession::BeginDownload(FileCheck const& check) {
    targetPath_ = check.targetPath;
    partialPath_ = check.partialPath;
    resumeIndex_ = check.firstChunk;
    chunkCounter_ = resumeIndex_;
    dataHad_ = dataHadOf_[targetPath_];
    downloadRequested_ = true;
}

bool UpdateSession::IsSafeServerPath(std::string_view localPath) {
    return store::StaysInsideCurrentDirectory(localPath) && !NamesWorkingFile(localPath);
}

// The whole chunks that an earlier run kept of this very file; a partial file of another version
// is removed.
std::uint32_t UpdateSession::ChunksKeptFor(std::string const& target,
                                           std::optional<std::string> const& partialPath,
                                           std::uint32_t crc) {
    if (!partialPath) {
        return 0;
    }
    std::optional<std::uint32_t> const recorded = RecordedPartial(target);
    std::optional<std::uint64_t> const there = base::RegularFileSize(*partialPath);
    if (recorded == crc && there) {
        return static_cast<std::uint32_t>(*there / kChunkDataMax);
    }
    if (there) {
        base::RemoveFile(*partialPath);
    }
    if (recorded) {
        ForgetPartial(target);
    }
    return 0;
}

// Only a download larger than one write block is kept for a later run.
bool UpdateSession::WorthResuming(std::uint32_t size) {
    return size > kDownloadWriteBlock;
}

// The download's file, going on after the first `index` chunks: resumable when it is large
// enough to be worth it and the record can say so, temporary otherwise.
std::optional<Download> UpdateSession::OpenDownload(std::uint32_t index) {
    // Made when the file was checked, but a deletion in the same directory since (the file's
    // data comes behind the walk of the list) may have removed it again, empty.
    store::CreateDirectoryChain(targetPath_);
    bool const worthResuming = partialPath_ && announcedSize_ && WorthResuming(*announcedSize_);
    if (worthResuming && (RecordedPartial(targetPath_) == expectedCrc_ ||
                          RecordPartial(targetPath_, expectedCrc_))) {
        return Download::Resume(targetPath_, *partialPath_, std::uint64_t{index} * kChunkDataMax);
    }
    return Download::Begin(targetPath_);
}

void UpdateSession::RecordList(FileDescription const& description) {
    EndList(description.action, description.crc, description.localPath);
}

void UpdateSession::EndList(std::uint8_t listAction, std::uint32_t crc, Bytes next) {
    std::string_view const list = FieldText(listName_);
    if (plan_) {
        if (IsRecordableListName(list)) {
            plan_->Record(list, crc);
        }
    } else if (!RecordListChecksum(list, crc)) {
        Fail(endings::DiskAccessError("Cannot write the file: ./crc.ini ..."));
    }
    if (listAction == action::SwitchList) {
        std::copy_n(next.begin(), std::min(next.size(), listName_.size()), listName_.begin());
    }
    SendListRequest(listName_);
}

void UpdateSession::DeleteFile(FileDescription const& description) {
    if (DeleteLocalFile(FieldText(description.localPath))) {
        SendAck();
    }
}

bool UpdateSession::DeleteLocalFile(std::string_view localPath) {
    if (!IsSafeServerPath(localPath)) {
        Fail(
            endings::DiskAccessError(DisplayLine("Unsafe file path refused: ", localPath, " ...")));
        return false;
    }
    std::string const path = store::NormalisePath(localPath);
    if (plan_) {
        // Checked now, so that the commit does not meet what the walk could have seen.
        if (base::IsDirectory(path)) {
            Fail(endings::DiskAccessError(
                DisplayLine("Cannot delete the file: ", localPath, " ...")));
            return false;
        }
        plan_->Delete(path);
        return true;
    }
    // A file that is already gone is what the server asked for.
    if (!base::RemoveFile(path)) {
        Fail(endings::DiskAccessError(DisplayLine("Cannot delete the file: ", localPath, " ...")));
    }
    store::RemoveDirectoryChain(path);
    return true;
}

// ---- Downloads ---------------------------------------------------------------------------------

void UpdateSession::OnDataChunk(Bytes frame) {
    std::optional<DataChunk> const chunk = ReadDataChunk(frame);
    if (!chunk) {
        return RejectInvalidFrame("data chunk");
    }
    if (fastPath_) {
        return OnStreamChunk(*chunk);
    }
    if (fileSize_ != 0) {
        ReportTransfer();
    }
    if (supersededRequest_ &&
        std::exchange(supersededRequest_, std::nullopt) == chunk->chunkIndex) {
        return;  // the answer to a request for what an earlier run had kept
    }
    bool const firstAnswer = downloadRequested_ && !download_;
    if (firstAnswer && resumeIndex_ > 0 && !announcedSize_ && chunk->chunkIndex != 0) {
        // Nothing said how large the file is: what an earlier run kept cannot be trusted to fit.
        ForgetKeptChunks();
        return RequestMoreChunks();
    }
    if (chunk->data.empty()) {
        FinishDownload();
        SendAck();
        return;
    }
    if (firstAnswer && resumeIndex_ > 0 && chunk->chunkIndex == 0) {
        // The server sends the file from its start after all: so be it.
        resumeIndex_ = 0;
        chunkCounter_ = 0;
        nextRequest_ = 1;
    }
    if (chunk->chunkIndex != chunkCounter_ || !downloadRequested_) {
        return;
    }
    // The next chunk is asked for before this one is written, so that the disk's work overlaps
    // the server's answer; what the writing meets ends the run all the same.
    ++chunkCounter_;
    requestDestination_ = chunk->address.sourceId;
    RequestMoreChunks();
    if (earlySend_) {
        earlySend_();
    }
    StoreChunk(*chunk);
}

void UpdateSession::RequestMoreChunks() {
    if (!announcedSize_) {
        // Without a size nothing can be asked ahead: one chunk at a time.
        nextRequest_ = chunkCounter_;
        SendChunkRequest(requestDestination_, nextRequest_++);
        return;
    }
    TopUpRequests();
}

void UpdateSession::TopUpRequests() {
    // The empty chunk that ends the file has this index.
    auto const last = static_cast<std::uint32_t>(
        (std::uint64_t{*announcedSize_} + kChunkDataMax - 1) / kChunkDataMax);
    while (nextRequest_ <= last && nextRequest_ - chunkCounter_ < requestWindow_) {
        SendChunkRequest(requestDestination_, nextRequest_++);
    }
}

void UpdateSession::ReportTransfer() {
    std::uint64_t const percent = std::uint64_t{chunkCounter_} * 202700u / fileSize_;
    int const shown = static_cast<int>(std::min<std::uint64_t>(percent, 100));
    unsigned long const counted = static_cast<unsigned long>(chunkCounter_) * kCountedChunkBytes;
    // "<counted> bytes received  (<shown> %)", formatted in place: this runs for every chunk,
    // so it must cost neither an allocation nor a trip through printf.
    std::array<char, 64> line{};
    char* end = std::to_chars(line.data(), line.data() + 20, counted).ptr;
    end = std::copy_n(kReceived.data(), kReceived.size(), end);
    end = std::to_chars(end, end + 3, shown).ptr;
    end = std::copy_n(kPercent.data(), kPercent.size(), end);
    window_.ShowTransfer(
        std::string_view(line.data(), static_cast<std::size_t>(end - line.data())));
    window_.SetProgress(shown);
}

void UpdateSession::StoreChunk(DataChunk const& chunk) {
    if (chunk.chunkIndex == resumeIndex_ && !download_) {
        download_ = OpenDownload(resumeIndex_);
        if (download_ && download_->bytesWritten() != std::uint64_t{resumeIndex_} * kChunkDataMax) {
            DiscardDownload();  // the kept part could not be read back whole
        }
    }
    std::uint64_t const had = download_ ? download_->bytesWritten() : 0;
    if (announcedSize_ && had + chunk.data.size() > *announcedSize_) {
        DiscardDownload();
        return Fail(endings::NetworkError(
            DisplayLine("The server sent more data than announced for ", targetPath_, " ...")));
    }
    if (!download_) {
        downloadRequested_ = false;
        return Fail(endings::DiskAccessError("Cannot open the temporary file"));
    }
    if (!download_->Append(chunk.data)) {
        std::string reason = std::strerror(errno);
        DiscardDownload();
        return Fail(endings::DiskAccessError(std::move(reason)));
    }
    NoteData();
}

void UpdateSession::FinishDownload() {
    if (!downloadRequested_) {
        return;
    }
    downloadRequested_ = false;
    if (!download_) {
        // The first chunk was already the empty one: the file is empty, or all of it was kept.
        download_ = OpenDownload(resumeIndex_);
        if (!download_) {
            return Fail(endings::DiskAccessError("Cannot open the temporary file"));
        }
    }
    bool const resumable = download_->resumable();
    Download::Result const result = CompleteDownload();
    int const savedErrno = errno;
    download_.reset();
    if (resumable) {
        ForgetPartial(targetPath_);  // installed, or found damaged and removed
    }
    switch (result) {
        case Download::Result::Installed:
            return;
        case Download::Result::ChecksumMismatch:
            return Fail(endings::DiskAccessError(DisplayLine(
                "The downloaded file is damaged (wrong checksum): ", targetPath_, " ...")));
        case Download::Result::WriteFailed:
            return Fail(endings::DiskAccessError(std::strerror(savedErrno)));
        case Download::Result::RenameFailed:
            return Fail(endings::DiskAccessError(
                DisplayLine("Cannot rename the file: ", targetPath_, " ...")));
    }
}

Download::Result UpdateSession::CompleteDownload() {
    if (!plan_) {
        return download_->Install(expectedCrc_);
    }
    std::optional<std::string> const staged = StagedPathOf(targetPath_);
    if (!staged) {
        download_->Discard();
        return Download::Result::RenameFailed;
    }
    Download::Result const result = download_->InstallAt(expectedCrc_, *staged);
    if (result == Download::Result::Installed) {
        plan_->Install(targetPath_);
    }
    return result;
}

void UpdateSession::DropDownload() {
    if (download_) {
        dataHadOf_[targetPath_] = std::max(dataHadOf_[targetPath_], dataHad_);
    }
    download_.reset();  // a resumable download keeps what it has for a later run
    downloadRequested_ = false;
    supersededRequest_.reset();
}

void UpdateSession::DiscardDownload() {
    if (download_) {
        download_->Discard();
        if (download_->resumable()) {
            ForgetPartial(targetPath_);
        }
    } else if (resumeIndex_ > 0) {
        ForgetKeptChunks();  // kept by an earlier run, not opened yet
    }
    DropDownload();
}

void UpdateSession::ForgetKeptChunks() {
    if (partialPath_) {
        base::RemoveFile(*partialPath_);
        ForgetPartial(targetPath_);
    }
    resumeIndex_ = 0;
    chunkCounter_ = 0;
    nextRequest_ = 0;
}

bool UpdateSession::RoomOnDiskFor(std::uint64_t bytes) const {
    std::optional<std::uint64_t> const free = base::FreeSpace(base::DirectoryOf(targetPath_));
    // When nobody can tell, the writes will.
    return !free || *free >= bytes;
}

// ---- Sizes and lists ---------------------------------------------------------------------------

void UpdateSession::OnFileSize(Bytes frame) {
    std::optional<FileSize> const size = ReadFileSize(frame);
    if (!size) {
        return RejectInvalidFrame("file size");
    }
    fileSize_ = size->size;
    announcedSize_ = size->size;
    std::string after = " ";
    after.append(std::to_string(fileSize_)).append(" bytes...");
    window_.ShowStatus(DisplayLine("file:", FieldText(size->fileName), after));
    window_.SetProgress(0);
    if (fastPath_ && (!streamUnderWay_ || download_)) {
        return RejectInvalidFrame("file size");  // a stream has one, before its chunks
    }
    if (!downloadRequested_) {
        return;
    }
    if (resumeIndex_ > 0 && !download_ &&
        (!WorthResuming(size->size) || size->size < std::uint64_t{resumeIndex_} * kChunkDataMax)) {
        // What an earlier run kept does not fit the file announced now: it goes, and the file
        // comes from its start. The request for the kept part's end is still to be answered; a
        // stream from there is not used, and the file is asked for again from its start.
        if (streamUnderWay_) {
            streamDiscarded_ = true;
        } else {
            supersededRequest_ = resumeIndex_;
        }
        ForgetKeptChunks();
    }
    std::uint64_t const kept = std::uint64_t{resumeIndex_} * kChunkDataMax;
    if (size->size > kept && !RoomOnDiskFor(size->size - kept)) {
        DiscardDownload();
        return Fail(endings::DiskAccessError(
            DisplayLine("Not enough room on the disk for ", targetPath_, " ...")));
    }
    if (!fastPath_) {
        TopUpRequests();
    }
}

void UpdateSession::OnListSummary(Bytes frame) {
    std::optional<ListSummary> const summary = ReadListSummary(frame);
    if (!summary) {
        return RejectInvalidFrame("list summary");
    }
    if (summary->complete == 1) {
        // A completed run leaves nothing of an unfinished download anywhere.
        RemoveAllPartials();
        if (plan_ && window_.CanComplete() && !CommitRun()) {
            return;
        }
        window_.ShowStatus("Operation complete...");
        window_.FinishRun();
        return;
    }
    if (RecordedChecksum(FieldText(summary->listKey)) == summary->listCrc) {
        SendListRequest(summary->nextList);
        std::copy(summary->nextList.begin(), summary->nextList.end(), listName_.begin());
    } else if (fastPath_) {
        ResetEntriesWalk();
        walkingEntries_ = true;
        AskForEntries();
    } else {
        SendAck();
    }
}

std::uint32_t UpdateSession::RecordedChecksum(std::string_view listName) const {
    // Within the run a record the plan holds counts as written.
    if (plan_ && IsRecordableListName(listName)) {
        if (std::optional<std::uint32_t> const planned = plan_->RecordedChecksum(listName)) {
            return *planned;
        }
    }
    return RecordedListChecksum(listName);
}

bool UpdateSession::CommitRun() {
    // Staged files that this walk did not announce are not installed.
    for (std::string const& directory : sweptDirectories_) {
        RemoveStagedUnless(
            directory, [&](std::string const& staged) { return plan_->InstallsStaged(staged); });
    }
    std::string problem;
    if (!CommitPlan(*plan_, problem)) {
        Fail(endings::DiskAccessError(problem));
        return false;
    }
    plan_->Clear();
    return true;
}

// ---- Sending and failing -----------------------------------------------------------------------

void UpdateSession::SendAck() {
    Append(outgoing_, AckMessage{ToServer(), base::AsBytes(FieldText(listName_)), fileToken_});
    NoteSettled();
}

void UpdateSession::SendListRequest(Bytes name) {
    Append(outgoing_, ListRequest{ToServer(), name});
    NoteSettled();
}

void UpdateSession::SendChunkRequest(std::uint32_t destination, std::uint32_t index) {
    Append(outgoing_, ChunkRequest{{ids_.from_me, destination}, index, remoteName_});
}

void UpdateSession::Fail(Ending const& ending) {
    window_.RaiseErrorCount();
    window_.EndWithMessage(ending);
}

void UpdateSession::RejectInvalidFrame(std::string_view what) {
    Fail(endings::NetworkError("invalid " + std::string(what) + " from the server"));
}

}  // namespace qm::update
