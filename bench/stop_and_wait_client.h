// The least a client must do to download one file from the update server the old way: after the
// opening (bench/minimal_client.h), the file request and then the stop-and-wait exchange itself:
// one 419-byte ChunkRequest, one DataChunk of up to 2027 bytes, until the empty chunk. The data is
// counted and dropped; nothing touches the disk.
#pragma once

#include "minimal_client.h"

namespace qm::bench {

class StopAndWaitClient : public MinimalClient {
  public:
    using MinimalClient::MinimalClient;

  private:
    void Ask(std::vector<std::uint8_t>& out) override;
    void Took(std::uint32_t index, std::span<const std::uint8_t> data,
              std::vector<std::uint8_t>& out) override;
};

}  // namespace qm::bench
