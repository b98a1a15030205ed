#include "faults/served_run.h"

#include <algorithm>
#include <cstring>

#include "support/conversation.h"

namespace qm::test {
namespace {

std::string TextAt(Bytes const& frame, std::size_t at, std::size_t width) {
    if (frame.size() < at) {
        return {};
    }
    std::size_t const end = std::min(frame.size(), at + width);
    auto const zero = std::find(frame.begin() + static_cast<std::ptrdiff_t>(at),
                                frame.begin() + static_cast<std::ptrdiff_t>(end), 0);
    return std::string(frame.begin() + static_cast<std::ptrdiff_t>(at), zero);
}

std::uint32_t Get32(Bytes const& frame, std::size_t at) {
    return static_cast<std::uint32_t>(frame[at]) << 24 |
           static_cast<std::uint32_t>(frame[at + 1]) << 16 |
           static_cast<std::uint32_t>(frame[at + 2]) << 8 | frame[at + 3];
}

}  // namespace

::testing::AssertionResult ServedRun::Serve(ScriptedServer& server) const {
    if (auto accepted = server.Accept(); !accepted) {
        return accepted;
    }
    server.Send(Welcome(peers.welcomeSender, peers.client));
    for (int i = 0; i < 2; ++i) {  // the login and the server query
        if (!server.ReceiveFrame()) {
            return ::testing::AssertionFailure() << "no login from the updater";
        }
    }
    server.Send(ServerAnnouncement(peers.server, peers.client));
    std::size_t next = 0;
    bool completed = false;
    for (;;) {
        std::optional<Bytes> frame = server.ReceiveFrame();
        if (!frame) {
            if (server.closed()) {
                return ::testing::AssertionSuccess();
            }
            return ::testing::AssertionFailure() << "the updater neither asked nor closed";
        }
        if (frame->size() < 15 || (*frame)[2] != 4) {
            return ::testing::AssertionFailure() << "unexpected " << DescribeFrame(*frame);
        }
        // Sends may fail once the updater is on its way out; its close ends the loop.
        switch ((*frame)[11]) {
            case 0:    // acknowledgement
            case 6: {  // list request
                if (next < steps.size()) {
                    server.Send(steps[next++]);
                } else if (!completed) {
                    completed = true;
                    server.Send(Completion(peers));
                }
                break;
            }
            case 4: {  // file request
                std::string const name = TextAt(*frame, 15, 400);
                auto const file = files.find(name);
                if (file == files.end()) {
                    return ::testing::AssertionFailure() << "request for unknown file " << name;
                }
                server.Send(FileSize(peers.fileSender, peers.client, name,
                                     static_cast<std::uint32_t>(file->second.size())));
                break;
            }
            case 2: {  // chunk request
                std::string const name = TextAt(*frame, 19, 400);
                auto const file = files.find(name);
                if (file == files.end()) {
                    return ::testing::AssertionFailure() << "chunk of unknown file " << name;
                }
                std::size_t const from = std::min<std::size_t>(
                    file->second.size(), std::size_t{Get32(*frame, 15)} * kChunkSize);
                std::size_t const count =
                    std::min<std::size_t>(kChunkSize, file->second.size() - from);
                server.Send(
                    DataChunk(peers.fileSender, peers.client, Get32(*frame, 15),
                              std::span<const std::uint8_t>(file->second.data() + from, count)));
                break;
            }
            default:
                return ::testing::AssertionFailure() << "unexpected " << DescribeFrame(*frame);
        }
    }
}

}  // namespace qm::test
