#include "faults/served_run.h"

#include <algorithm>

#include "support/conversation.h"

namespace qm::test {
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
            case 4:    // file request
            case 2: {  // chunk request
                bool const whole = (*frame)[11] == 4;
                std::string const name = TextAt(*frame, whole ? 15 : 19, 400);
                auto const file = files.find(name);
                if (file == files.end()) {
                    return ::testing::AssertionFailure() << "request for unknown file " << name;
                }
                Bytes const& bytes = file->second;
                std::uint32_t const index = whole ? 0 : Read32(*frame, 15);
                server.Send(whole ? SizeFrame(name, bytes.size(), peers)
                                  : DataChunk(peers.fileSender, peers.client, index,
                                              ChunkOf(bytes, index)));
                break;
            }
            default:
                return ::testing::AssertionFailure() << "unexpected " << DescribeFrame(*frame);
        }
    }
}

}  // namespace qm::test
