// The least a client must do to download one file from a server that sends files as streams:
// after the opening (bench/minimal_client.h), one StreamRequest from chunk 0; then it only takes
// the chunks as they come, handing each one's data to `keep` (which writes it to a file, or
// drops it), until the empty chunk. Once the data is flushed, its acknowledgement is a
// ListRequest for the next list, as the updater acknowledges a list walked by entries: the end
// of the download as the link sees it.
#pragma once

#include <functional>

#include "minimal_client.h"

namespace qm::bench {

class StreamingClient : public MinimalClient {
  public:
    using Keep = std::function<void(std::span<const std::uint8_t>)>;

    StreamingClient(std::string remoteName, Keep keep);

    // The frame that says the download is done (after the empty chunk).
    std::vector<std::uint8_t> Acknowledgement() const;

  private:
    void Ask(std::vector<std::uint8_t>& out) override;
    void Took(std::uint32_t index, std::span<const std::uint8_t> data,
              std::vector<std::uint8_t>& out) override;

    Keep keep_;
};

}  // namespace qm::bench
