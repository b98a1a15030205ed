// The least a client must do to download one file from the update server: the login, the query
// for the update service, one list request (the server then knows its release), the file
// request, and then the stop-and-wait exchange itself: one 419-byte ChunkRequest, one DataChunk
// of up to 2027 bytes, until the empty chunk. The data is counted and dropped; nothing touches
// the disk. Fed with the bytes that arrive, it answers with the frames to send.
#pragma once

#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace qm::bench {

class StopAndWaitClient {
  public:
    using Clock = std::chrono::steady_clock;

    explicit StopAndWaitClient(std::string remoteName);

    // Takes bytes received from the server; appends the frames to send to `out`.
    void Receive(std::span<const std::uint8_t> bytes, std::vector<std::uint8_t>& out);

    bool finished() const { return stage_ == Stage::Finished; }
    bool failed() const { return stage_ == Stage::Failed; }
    std::string const& failure() const { return failure_; }

    std::uint64_t dataBytes() const { return dataBytes_; }
    // From the arrival of the file's size to the arrival of its empty chunk.
    Clock::time_point sizeArrivedAt() const { return sizeArrivedAt_; }
    Clock::time_point finishedAt() const { return finishedAt_; }

  private:
    enum class Stage { Welcome, Announcement, Summary, Download, Finished, Failed };

    void OnFrame(std::span<const std::uint8_t> frame, std::vector<std::uint8_t>& out);
    void OnUpdateFrame(std::span<const std::uint8_t> frame, std::vector<std::uint8_t>& out);
    void OnDataChunk(std::span<const std::uint8_t> frame, std::vector<std::uint8_t>& out);
    void Fail(std::string why);

    std::string remoteName_;
    Stage stage_ = Stage::Welcome;
    std::string failure_;
    std::vector<std::uint8_t> pending_;  // bytes of a frame not yet complete
    std::uint32_t ownId_ = 0;
    std::uint32_t serverId_ = 0;
    std::uint32_t nextChunk_ = 0;
    std::uint64_t dataBytes_ = 0;
    Clock::time_point sizeArrivedAt_{};
    Clock::time_point finishedAt_{};
};

}  // namespace qm::bench
