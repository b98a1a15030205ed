#include "stop_and_wait_client.h"

#include "support/wire.h"

namespace qm::bench {

void StopAndWaitClient::Ask(std::vector<std::uint8_t>& out) {
    // Like the updater: the file request and the request for chunk 0 go out together.
    test::Append(out, test::FileRequest(ownId(), serverId(), remoteName()));
    test::Append(out, test::ChunkRequest(ownId(), serverId(), 0, remoteName()));
}

void StopAndWaitClient::Took(std::uint32_t index, std::span<const std::uint8_t> /*data*/,
                             std::vector<std::uint8_t>& out) {
    test::Append(out, test::ChunkRequest(ownId(), serverId(), index + 1, remoteName()));
}

}  // namespace qm::bench
