#include "minimal_client.h"

#include "support/wire.h"

namespace qm::bench {
namespace {

using test::Append;
using test::Read16;
using test::Read32;

// Message kinds of the server's frames, and the service code of the update service.
constexpr std::uint8_t kServerAnnouncement = 3;
constexpr std::uint8_t kDataChunk = 3;
constexpr std::uint8_t kFileSize = 5;
constexpr std::uint8_t kListSummary = 7;
constexpr std::uint8_t kUpdateService = 4;

}  // namespace

MinimalClient::MinimalClient(std::string remoteName) : remoteName_(std::move(remoteName)) {}

void MinimalClient::Receive(std::span<const std::uint8_t> bytes, std::vector<std::uint8_t>& out) {
    pending_.insert(pending_.end(), bytes.begin(), bytes.end());
    std::size_t used = 0;
    while (pending_.size() - used >= 3 && !failed()) {
        std::size_t const length = Read16(pending_, used);
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

void MinimalClient::OnFrame(std::span<const std::uint8_t> frame, std::vector<std::uint8_t>& out) {
    std::uint8_t const type = frame[2];
    std::uint8_t const messageKind = frame[11];
    if (stage_ == Stage::Welcome) {
        if (type != test::kNetworkType) {
            return Fail("the first frame is not a WELCOME");
        }
        std::uint32_t const peerId = Read32(frame, 3);
        ownId_ = Read32(frame, 7);
        Append(out, test::LoginMessage(ownId_, peerId));
        Append(out, test::ServerQuery(ownId_));
        stage_ = Stage::Announcement;
        return;
    }
    if (type == test::kNetworkType && messageKind == kServerAnnouncement &&
        stage_ == Stage::Announcement && frame.size() > 27 && frame[27] == kUpdateService) {
        serverId_ = Read32(frame, 3);
        Append(out, test::ListRequest(ownId_, serverId_, "quillmesh.ini"));
        stage_ = Stage::Summary;
        return;
    }
    if (type == test::kUpdateType) {
        OnUpdateFrame(frame, out);
    }
}

void MinimalClient::OnUpdateFrame(std::span<const std::uint8_t> frame,
                                  std::vector<std::uint8_t>& out) {
    std::uint8_t const messageKind = frame[11];
    if (messageKind == kListSummary && stage_ == Stage::Summary) {
        if (frame.size() < 148) {
            return Fail("short ListSummary frame");
        }
        nextList_ = test::TextAt(frame, 83, 64);
        Ask(out);
        stage_ = Stage::Download;
    } else if (messageKind == kFileSize && stage_ == Stage::Download) {
        if (frame.size() < 619) {
            return Fail("short FileSize frame");
        }
        sizeArrivedAt_ = Clock::now();
    } else if (messageKind == kDataChunk && stage_ == Stage::Download) {
        OnDataChunk(frame, out);
    }
}

void MinimalClient::OnDataChunk(std::span<const std::uint8_t> frame,
                                std::vector<std::uint8_t>& out) {
    if (frame.size() < 21) {
        return Fail("short DataChunk frame");
    }
    std::uint32_t const index = Read32(frame, 15);
    std::size_t const length = Read16(frame, 19);
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
    Took(index, frame.subspan(21, length), out);
}

void MinimalClient::Fail(std::string why) {
    failure_ = std::move(why);
    stage_ = Stage::Failed;
}

}  // namespace qm::bench
