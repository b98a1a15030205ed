// What every minimal client of the benchmarks does before and around one file's download from the
// update server: the login, the query for the update service, the request for the first list (the
// server then knows its release), and the frames of the download itself: the file's size, then its
// chunks in order until the empty one. How the file is asked for, and what becomes of its data, is
// the business of each kind of client (bench/stop_and_wait_client.h, bench/streaming_client.h).
// Fed with the bytes that arrive, it answers with the frames to send.
#pragma once

#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace qm::bench {

class MinimalClient {
  public:
    using Clock = std::chrono::steady_clock;

    explicit MinimalClient(std::string remoteName);
    virtual ~MinimalClient() = default;
    MinimalClient(MinimalClient const&) = delete;
    MinimalClient& operator=(MinimalClient const&) = delete;

    // Takes bytes received from the server; appends the frames to send to `out`.
    void Receive(std::span<const std::uint8_t> bytes, std::vector<std::uint8_t>& out);

    bool finished() const { return stage_ == Stage::Finished; }
    bool failed() const { return stage_ == Stage::Failed; }
    std::string const& failure() const { return failure_; }

    std::uint64_t dataBytes() const { return dataBytes_; }
    // From the arrival of the file's size to the arrival of its empty chunk.
    Clock::time_point sizeArrivedAt() const { return sizeArrivedAt_; }
    Clock::time_point finishedAt() const { return finishedAt_; }

  protected:
    std::string const& remoteName() const { return remoteName_; }
    std::uint32_t ownId() const { return ownId_; }
    std::uint32_t serverId() const { return serverId_; }
    // The list after the first one, as its summary names it.
    std::string const& nextList() const { return nextList_; }

  private:
    // The first list's summary came: the requests that start the download.
    virtual void Ask(std::vector<std::uint8_t>& out) = 0;
    // Chunk `index` came, in order, with its data (never empty); the frames that follow it.
    virtual void Took(std::uint32_t index, std::span<const std::uint8_t> data,
                      std::vector<std::uint8_t>& out) = 0;

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
    std::string nextList_;
    std::uint32_t nextChunk_ = 0;
    std::uint64_t dataBytes_ = 0;
    Clock::time_point sizeArrivedAt_{};
    Clock::time_point finishedAt_{};
};

}  // namespace qm::bench
