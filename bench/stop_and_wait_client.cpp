#include "stop_and_wait_client.h"

#include "protocol_frames.h"

namespace qm::bench {

using frames::ReadBigEndian16;
using frames::ReadBigEndian32;

StopAndWaitClient::StopAndWaitClient(std::string remoteName) : remoteName_(std::move(remoteName)) {}

void StopAndWaitClient::Receive(std::span<const std::uint8_t> bytes,
                                std::vector<std::uint8_t>& out) {
    pending_.insert(pending_.end(), bytes.begin(), bytes.end());
    std::size_t used = 0;
    while (pending_.size() - used >= 3 && !failed()) {
        std::size_t const length = ReadBigEndian16(pending_, used);
        if (length < 15) {
            Fail("frame of " + std::to_string(length) + " bytes");
            break;
        }
        if (pending_.size() - used < length) {
            break;
        }
        OnFrame(std::span<const std::uint8_t>(pending_).subspan(used, length), out);
        used += length;
    }
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(used));
}

void StopAndWaitClient::OnFrame(std::span<const std::uint8_t> frame,
                                std::vector<std::uint8_t>& out) {
    std::uint8_t const type = frame[2];
    std::uint8_t const messageKind = frame[11];
    if (stage_ == Stage::Welcome) {
        if (type != frames::kNetworkType) {
            return Fail("the first frame is not a WELCOME");
        }
        std::uint32_t const peerId = ReadBigEndian32(frame, 3);
        ownId_ = ReadBigEndian32(frame, 7);
        frames::AppendLogin(out, ownId_, peerId);
        frames::AppendServerQuery(out, ownId_);
        stage_ = Stage::Announcement;
        return;
    }
    if (type == frames::kNetworkType && messageKind == frames::kind::kServerAnnouncement &&
        stage_ == Stage::Announcement && frame.size() > 27 && frame[27] == frames::kUpdateService) {
        serverId_ = ReadBigEndian32(frame, 3);
        frames::AppendListRequest(out, ownId_, serverId_, "quillmesh.ini");
        stage_ = Stage::Summary;
        return;
    }
    if (type == frames::kUpdateType) {
        OnUpdateFrame(frame, out);
    }
}

void StopAndWaitClient::OnUpdateFrame(std::span<const std::uint8_t> frame,
                                      std::vector<std::uint8_t>& out) {
    std::uint8_t const messageKind = frame[11];
    if (messageKind == frames::kind::kListSummary && stage_ == Stage::Summary) {
        // Like the updater: the file request and the request for chunk 0 go out together.
        frames::AppendFileRequest(out, ownId_, serverId_, remoteName_);
        frames::AppendChunkRequest(out, ownId_, serverId_, 0, remoteName_);
        stage_ = Stage::Download;
    } else if (messageKind == frames::kind::kFileSize && stage_ == Stage::Download) {
        if (frame.size() < 619) {
            return Fail("short FileSize frame");
        }
        announcedSize_ = ReadBigEndian32(frame, 615);
        sizeArrivedAt_ = Clock::now();
    } else if (messageKind == frames::kind::kDataChunk && stage_ == Stage::Download) {
        OnDataChunk(frame, out);
    }
}

void StopAndWaitClient::OnDataChunk(std::span<const std::uint8_t> frame,
                                    std::vector<std::uint8_t>& out) {
    if (frame.size() < 21) {
        return Fail("short DataChunk frame");
    }
    std::uint32_t const index = ReadBigEndian32(frame, 15);
    std::size_t const length = ReadBigEndian16(frame, 19);
    if (21 + length > frame.size()) {
        return Fail("DataChunk longer than its frame");
    }
    if (length == 0) {
        finishedAt_ = Clock::now();
        stage_ = Stage::Finished;
        return;
    }
    if (index != nextChunk_) {
        return;
    }
    dataBytes_ += length;
    ++nextChunk_;
    frames::AppendChunkRequest(out, ownId_, serverId_, nextChunk_, remoteName_);
}

void StopAndWaitClient::Fail(std::string why) {
    failure_ = std::move(why);
    stage_ = Stage::Failed;
}

}  // namespace qm::bench
