#include "streaming_client.h"

#include "support/wire.h"

namespace qm::bench {

StreamingClient::StreamingClient(std::string remoteName, Keep keep)
    : MinimalClient(std::move(remoteName)), keep_(std::move(keep)) {}

std::vector<std::uint8_t> StreamingClient::Acknowledgement() const {
    return test::ListRequest(ownId(), serverId(), nextList());
}

void StreamingClient::Ask(std::vector<std::uint8_t>& out) {
    test::Append(out, test::StreamRequest(ownId(), serverId(), 0, remoteName()));
}

void StreamingClient::Took(std::uint32_t /*index*/, std::span<const std::uint8_t> data,
                           std::vector<std::uint8_t>& /*out*/) {
    keep_(data);
}

}  // namespace qm::bench
