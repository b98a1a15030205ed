// The client side of one update run, from the end of the connect to the completion message: logs
// in after the WELCOME, waits for the update server, walks the server's file lists, compares
// checksums, downloads changed files chunk by chunk, deletes marked files and records list
// checksums in ./crc.ini. Everything is reported through the SessionWindow.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <span>
#include <string>

#include "net/frame.h"
#include "update/download.h"
#include "update/messages.h"
#include "update/session_window.h"

namespace qm::update {

inline constexpr std::uint16_t kServerPort = 34005;
inline constexpr char kFirstListName[] = "quillmesh.ini";

class UpdateSession final : public net::FrameSink {
  public:
    UpdateSession(net::SocketLayer& layer, net::ClientLink& link);

    // The window that shows the run (null: the window's share of every step is left out).
    void AttachWindow(SessionWindow* window) { activeDialog_ = window; }

    // Fills the read, write, close and connect slots of the layer's table with this session's
    // handlers.
    void InstallHandlers();

    void OnSocketConnected(int socket, int error);
    void OnSocketRead(int socket, std::span<const std::uint8_t> bytes);
    void OnSocketWritable(int socket);
    void OnSocketClosed(int socket);

    // One complete frame, from its first length byte. Returns 0.
    int HandleMessage(net::ClientLink& link, std::span<const std::uint8_t> frame);

    // Frames from the reassembly: the first one of a connection is its WELCOME.
    void OnFrame(net::ClientLink& link, std::span<const std::uint8_t> frame) override;
    void OnFrameError(net::ClientLink& link, unsigned length) override;

    // Session state.
    bool serverDetected = false;
    std::uint32_t serverId = 0;
    std::uint32_t fileToken = 0;
    std::uint32_t chunkCounter = 0;
    std::uint32_t fileSize = 0;
    std::string targetPath;
    RemoteNameField remoteName{};
    ListNameField listName{};

  private:
    void Login();
    void OnServerAnnouncement(std::span<const std::uint8_t> frame);
    void OnFileDescription(std::span<const std::uint8_t> frame);
    void OnDataChunk(std::span<const std::uint8_t> frame);
    void OnFileSize(std::span<const std::uint8_t> frame);
    void OnListSummary(std::span<const std::uint8_t> frame);

    void BeginList();
    void CheckFile(FileDescription const& description);
    void RecordList(FileDescription const& description);
    void DeleteFile(FileDescription const& description);
    void ReportTransfer();
    void StoreChunk(DataChunk const& chunk);
    void FinishDownload();

    void SendAck();
    void SendListRequest(std::span<const std::uint8_t, kListNameWidth> name);
    void SendChunkRequest(std::uint32_t destination, std::uint32_t index);

    // Counts an error and ends the run with a box.
    void Fail(std::string_view caption, std::string_view text);
    void RejectInvalidFrame(std::string_view what);

    void ShowStatus(std::string_view text);
    void ShowTransfer(std::string_view text);
    void SetProgress(int percent);

    net::SocketLayer& layer_;
    net::ClientLink& link_;
    SessionWindow* activeDialog_ = nullptr;

    // The download under way: requested after a checksum differed, its temporary file created by
    // chunk 0, installed by the empty chunk.
    bool downloadRequested_ = false;
    std::uint32_t expectedCrc_ = 0;
    // The size that a FileSize announced for the file under way; more data than that is refused,
    // so that a server cannot fill the disk with a file announced as small.
    std::optional<std::uint32_t> announcedSize_;
    std::optional<Download> download_;
    // Directories already cleared of temporary files that a killed run left behind.
    std::set<std::string> sweptDirectories_;
};

}  // namespace qm::update
