#include "update/update_session.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "net/welcome.h"
#include "base/directory.h"
#include "checksum/checksum.h"
#include "store/directory_chain.h"
#include "store/path_check.h"
#include "update/checksum_record.h"
#include "update/display_text.h"

namespace qm::update {
namespace {

constexpr char kNetworkWord[] = "FENWARDIX";
constexpr char kClientName[] = "Uploader";
constexpr std::uint8_t kUpdateService = 4;
constexpr unsigned long kCountedChunkBytes = kChunkDataMax;

enum Action : std::uint8_t {
    kBeginList = 0,
    kCheckFile = 1,
    kSwitchList = 2,
    kRepeatList = 3,
    kDeleteFile = 4,
};

std::string Format(std::string_view before, std::string_view value, std::string_view after) {
    std::string text(before);
    text += DisplayText(value);
    text += after;
    return text;
}

}  // namespace

UpdateSession::UpdateSession(net::SocketLayer& layer, net::ClientLink& link)
    : layer_(layer), link_(link) {}

void UpdateSession::InstallHandlers() {
    auto& table = layer_.table();
    table.onRead = [this](int socket, std::span<const std::uint8_t> bytes) {
        OnSocketRead(socket, bytes);
    };
    table.onWrite = [this](int socket) { OnSocketWritable(socket); };
    table.onClose = [this](int socket) { OnSocketClosed(socket); };
    table.onConnect = [this](int socket, int error) { OnSocketConnected(socket, error); };
}

// ---- Socket events -------------------------------------------------------------------------

void UpdateSession::OnSocketConnected(int socket, int error) {
    if (activeDialog_ == nullptr || socket != activeDialog_->pendingSocket) {
        return;
    }
    if (error != 0) {
        activeDialog_->pendingSocket = -1;
        activeDialog_->EndWithMessage("Network error", "unable to join the server :-(");
        return;
    }
    serverDetected = false;
    ShowStatus("connection succesfull");
    if (layer_.AsyncReceive(socket) != 0) {
        activeDialog_->pendingSocket = -1;
        activeDialog_->EndWithMessage("Network error", "unable to receive from the server");
    }
}

void UpdateSession::OnSocketRead(int socket, std::span<const std::uint8_t> bytes) {
    if (activeDialog_ != nullptr && socket == activeDialog_->pendingSocket) {
        activeDialog_->pendingSocket = -1;
        if (net::HandleWelcome(link_, layer_, socket, activeDialog_->serverAddress, kServerPort) !=
            0) {
            activeDialog_->EndWithMessage("Network error", "Dial-up with the server failed :-(");
        } else {
            // A WELCOME that never completes must not keep the run waiting for ever.
            activeDialog_->StartResponseTimer();
        }
    }
    if (socket != -1 && socket == link_.socket) {
        net::Windows_Client_ManageDatas(link_, *this, bytes);
    }
}

void UpdateSession::OnSocketWritable(int /*socket*/) {}

void UpdateSession::OnSocketClosed(int socket) {
    bool linkSocket = socket != -1 && socket == link_.socket;
    bool pending = activeDialog_ != nullptr && socket == activeDialog_->pendingSocket;
    if (!linkSocket && !pending) {
        return;
    }
    if (linkSocket) {
        net::ResetLink(link_, layer_);
    } else {
        // Closed after the connect but before any data: without an ending the window would wait
        // on "connection succesfull" for ever.
        activeDialog_->pendingSocket = -1;
        layer_.CloseSocket(socket);
    }
    download_.reset();
    downloadRequested_ = false;
    if (activeDialog_ != nullptr) {
        Fail("Network error", "connection lost");
    }
}

// ---- Frames ----------------------------------------------------------------------------------

void UpdateSession::OnFrame(net::ClientLink& link, std::span<const std::uint8_t> frame) {
    if (link.awaitingWelcome) {
        net::AcceptWelcome(link, layer_, frame,
                           activeDialog_ ? activeDialog_->serverAddress : std::string());
        // Sent whether or not the WELCOME was valid: a refused link drops both, and the
        // no-response timer ends the run.
        Login();
        if (!link.connected) {
            return;
        }
    }
    if (link.connected) {
        HandleMessage(link, frame);
    }
}

void UpdateSession::OnFrameError(net::ClientLink& link, unsigned length) {
    net::ResetLink(link, layer_);
    download_.reset();
    downloadRequested_ = false;
    Fail("Network error",
         "invalid data from the server (frame length " + std::to_string(length) + ")");
}

void UpdateSession::Login() {
    LoginMessage(link_, layer_, link_.from_me, link_.peerId, link_.peerId, kNetworkWord,
                 kClientName);
    ServerQuery(link_, layer_, link_.from_me, kServerQueryDestination, kUpdateService);
    if (activeDialog_ != nullptr) {
        activeDialog_->StartResponseTimer();
    }
}

int UpdateSession::HandleMessage(net::ClientLink& /*link*/, std::span<const std::uint8_t> frame) {
    auto head = ReadMessageHead(frame);
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

void UpdateSession::OnServerAnnouncement(std::span<const std::uint8_t> frame) {
    auto announcement = ReadServerAnnouncement(frame);
    if (!announcement) {
        return RejectInvalidFrame("server announcement");
    }
    if (serverDetected || announcement->serviceCode != kUpdateService) {
        return;
    }
    fileToken = 0;
    serverId = announcement->sourceId;
    serverDetected = true;
    if (activeDialog_ != nullptr) {
        activeDialog_->StopResponseTimer();
        activeDialog_->ShowStatus("Update Server Detected.");
    }
    RemoveChecksumRecordLeftovers();
    listName = MakeListName(kFirstListName);
    ShowStatus("requesting files ...");
    SendListRequest(listName);
}

// ---- File descriptions -----------------------------------------------------------------------

void UpdateSession::OnFileDescription(std::span<const std::uint8_t> frame) {
    auto description = ReadFileDescription(frame);
    if (!description) {
        return RejectInvalidFrame("file description");
    }
    ShowStatus(Format("Checking ", description->remoteName, " ..."));
    fileToken = description->fileToken;
    switch (description->action) {
        case kBeginList:
            return BeginList();
        case kCheckFile:
            return CheckFile(*description);
        case kSwitchList:
        case kRepeatList:
            return RecordList(*description);
        case kDeleteFile:
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
    std::copy(description.remoteNameField.begin(), description.remoteNameField.end(),
              remoteName.begin());
    // A new description replaces any download still under way.
    download_.reset();
    downloadRequested_ = false;
    announcedSize_.reset();
    if (!store::StaysInsideCurrentDirectory(description.localPath)) {
        return Fail("Disk access error",
                    Format("Unsafe file path refused: ", description.localPath, " ..."));
    }
    targetPath = store::CreateDirectoryChain(description.localPath);
    if (std::string directory = base::DirectoryOf(targetPath);
        sweptDirectories_.insert(directory).second) {
        Download::RemoveLeftovers(directory);
    }
    chunkCounter = 0;
    expectedCrc_ = description.crc;
    if (checksum::FileCrc32(targetPath) == description.crc) {
        SetProgress(0);
        SendAck();
        return;
    }
    FileRequest(link_, layer_, link_.from_me, serverId, remoteName);
    downloadRequested_ = true;
    SendChunkRequest(description.sourceId, 0);
}

void UpdateSession::RecordList(FileDescription const& description) {
    if (!RecordListChecksum(FieldText(listName), description.crc)) {
        Fail("Disk access error", "Cannot write the file: ./crc.ini ...");
    }
    if (description.action == kSwitchList) {
        std::copy(description.localPathField.begin(), description.localPathField.end(),
                  listName.begin());
    }
    SendListRequest(listName);
}

void UpdateSession::DeleteFile(FileDescription const& description) {
    if (!store::StaysInsideCurrentDirectory(description.localPath)) {
        return Fail("Disk access error",
                    Format("Unsafe file path refused: ", description.localPath, " ..."));
    }
    std::string path = store::NormalisePath(description.localPath);
    // A file that is already gone is what the server asked for.
    if (unlink(path.c_str()) != 0 && errno != ENOENT) {
        Fail("Disk access error",
             Format("Cannot delete the file: ", description.localPath, " ..."));
    }
    store::RemoveDirectoryChain(path);
    SendAck();
}

// ---- Downloads -------------------------------------------------------------------------------

void UpdateSession::OnDataChunk(std::span<const std::uint8_t> frame) {
    auto chunk = ReadDataChunk(frame);
    if (!chunk) {
        return RejectInvalidFrame("data chunk");
    }
    if (fileSize != 0) {
        ReportTransfer();
    }
    if (chunk->data.empty()) {
        FinishDownload();
        SendAck();
        return;
    }
    if (chunk->chunkIndex != chunkCounter || !downloadRequested_) {
        return;
    }
    StoreChunk(*chunk);
    ++chunkCounter;
    SendChunkRequest(chunk->sourceId, chunkCounter);
}

void UpdateSession::ReportTransfer() {
    std::uint64_t percent = std::uint64_t{chunkCounter} * 202700u / fileSize;
    int shown = static_cast<int>(std::min<std::uint64_t>(percent, 100));
    unsigned long counted = static_cast<unsigned long>(chunkCounter) * kCountedChunkBytes;
    // Formatted in place: one line per chunk must not cost an allocation.
    std::array<char, 64> line{};
    int length =
        std::snprintf(line.data(), line.size(), "%lu bytes received  (%d %%)", counted, shown);
    ShowTransfer(std::string_view(line.data(), static_cast<std::size_t>(length)));
    SetProgress(shown);
}

void UpdateSession::StoreChunk(DataChunk const& chunk) {
    if (chunk.chunkIndex == 0) {
        download_ = Download::Begin(targetPath);
    }
    std::uint64_t had = download_ ? download_->bytesWritten() : 0;
    if (announcedSize_ && had + chunk.data.size() > *announcedSize_) {
        download_.reset();
        downloadRequested_ = false;
        return Fail("Network error",
                    Format("The server sent more data than announced for ", targetPath, " ..."));
    }
    if (!download_) {
        downloadRequested_ = false;
        return Fail("Disk access error", "Cannot open the temporary file");
    }
    if (!download_->Append(chunk.data)) {
        std::string reason = std::strerror(errno);
        download_.reset();
        downloadRequested_ = false;
        Fail("Disk access error", reason);
    }
}

void UpdateSession::FinishDownload() {
    if (!downloadRequested_) {
        return;
    }
    downloadRequested_ = false;
    if (!download_) {
        // The first chunk was already the empty one: the file is empty.
        download_ = Download::Begin(targetPath);
        if (!download_) {
            return Fail("Disk access error", "Cannot open the temporary file");
        }
    }
    auto result = download_->Install(expectedCrc_);
    int savedErrno = errno;
    download_.reset();
    switch (result) {
        case Download::Result::Installed:
            return;
        case Download::Result::ChecksumMismatch:
            return Fail(
                "Disk access error",
                Format("The downloaded file is damaged (wrong checksum): ", targetPath, " ..."));
        case Download::Result::WriteFailed:
            return Fail("Disk access error", std::strerror(savedErrno));
        case Download::Result::RenameFailed:
            return Fail("Disk access error",
                        Format("Cannot rename the file: ", targetPath, " ..."));
    }
}

// ---- Sizes and lists -------------------------------------------------------------------------

void UpdateSession::OnFileSize(std::span<const std::uint8_t> frame) {
    auto size = ReadFileSize(frame);
    if (!size) {
        return RejectInvalidFrame("file size");
    }
    fileSize = size->size;
    announcedSize_ = size->size;
    std::string after = " ";
    after.append(std::to_string(fileSize)).append(" bytes...");
    ShowStatus(Format("file:", size->fileName, after));
    SetProgress(0);
}

void UpdateSession::OnListSummary(std::span<const std::uint8_t> frame) {
    auto summary = ReadListSummary(frame);
    if (!summary) {
        return RejectInvalidFrame("list summary");
    }
    if (summary->complete) {
        ShowStatus("Operation complete...");
        if (activeDialog_ != nullptr) {
            activeDialog_->FinishRun();
        }
        return;
    }
    if (RecordedListChecksum(summary->listKey) == summary->listCrc) {
        SendListRequest(summary->nextListField);
        std::copy(summary->nextListField.begin(), summary->nextListField.end(), listName.begin());
    } else {
        SendAck();
    }
}

// ---- Sending and reporting -------------------------------------------------------------------

void UpdateSession::SendAck() {
    AckMessage(link_, layer_, link_.from_me, serverId, fileToken, listName);
}

void UpdateSession::SendListRequest(std::span<const std::uint8_t, kListNameWidth> name) {
    ListNameField field{};
    std::copy(name.begin(), name.end(), field.begin());
    ListRequest(link_, layer_, link_.from_me, serverId, field);
}

void UpdateSession::SendChunkRequest(std::uint32_t destination, std::uint32_t index) {
    ChunkRequest(link_, layer_, link_.from_me, destination, index, remoteName);
}

void UpdateSession::Fail(std::string_view caption, std::string_view text) {
    if (activeDialog_ == nullptr) {
        return;
    }
    activeDialog_->errorCount += 1;
    activeDialog_->EndWithMessage(caption, text);
}

void UpdateSession::RejectInvalidFrame(std::string_view what) {
    Fail("Network error", "invalid " + std::string(what) + " from the server");
}

void UpdateSession::ShowStatus(std::string_view text) {
    if (activeDialog_ != nullptr) {
        activeDialog_->ShowStatus(text);
    }
}

void UpdateSession::ShowTransfer(std::string_view text) {
    if (activeDialog_ != nullptr) {
        activeDialog_->ShowTransfer(text);
    }
}

void UpdateSession::SetProgress(int percent) {
    if (activeDialog_ != nullptr) {
        activeDialog_->SetProgress(percent);
    }
}

}  // namespace qm::update
