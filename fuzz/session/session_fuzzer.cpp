// Fuzzes the update session behind the frame reassembly: arbitrary server bytes, split into
// arbitrary reads, reach a live UpdateSession that works on a real client directory and sends
// its answers on a real socket.
//
// Input: a flags byte, four read-size bytes, then the bytes the server sends.
//   flags 0x01  the link awaits its WELCOME (the stream starts a connection); otherwise the
//               link is already past it
//   flags 0x02  the server has hung up, so every send fails
//   flags 0x04  nobody reads what the updater sends, so sends block
//   flags 0x08  no window is attached
//
// Checked after every input: nothing outside the client directory changed (a sentinel directory
// reached through links); no file was lost that the server did not ask to delete; every file
// that changed or appeared has a checksum that the server announced; no temporary file and no
// file descriptor was left behind; everything shown is displayable text and the progress stays
// within 0..100; every frame sent is one of the updater's messages at its layout's length.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <span>
#include <string>

#include "net/frame.h"
#include "net/poll_event_loop.h"
#include "net/welcome.h"
#include "session/client_fixture.h"
#include "session/recording_window.h"
#include "session/sent_frames.h"
#include "session/server_permissions.h"
#include "support/escaped.h"
#include "support/input_reader.h"
#include "support/open_descriptors.h"
#include "support/read_sizes.h"
#include "support/socket_pair.h"
#include "support/violation.h"
#include "update/update_session.h"

namespace {

using qm::fuzz::Require;
using qm::fuzz::Violation;
namespace net = qm::net;

constexpr std::uint8_t kAwaitWelcome = 0x01;
constexpr std::uint8_t kServerHungUp = 0x02;
constexpr std::uint8_t kNobodyReads = 0x04;
constexpr std::uint8_t kNoWindow = 0x08;

constexpr char kServerAddress[] = "127.0.3.1";

struct Input {
    std::uint8_t flags;
    qm::fuzz::ReadSizes readSizes;
    std::span<const std::uint8_t> stream;
};

Input ReadInput(std::span<const std::uint8_t> data) {
    qm::fuzz::InputReader reader(data);
    std::uint8_t const flags = reader.Byte();
    qm::fuzz::ReadSizes sizes(reader.Bytes(qm::fuzz::kReadSizeBytes));
    return Input{flags, sizes, reader.Rest()};
}

// A link that took its WELCOME from the server 0x00000100 and was given the id 0x0A000001.
void ConnectLink(net::ClientLink& link, int socket) {
    link.socket = socket;
    link.connected = true;
    link.peerId = 0x00000100u;
    link.from_me = 0x0A000001u;
    link.recvState = -2;
    link.bytesReceived = 0;
}

// What a conversation came to, for looking at single inputs (QM_FUZZ_VERBOSE=1).
void Describe(qm::fuzz::RecordingWindow const& window, qm::fuzz::SentFrames const& sent) {
    std::fprintf(stderr, "conversation: %zu frames sent, %d errors, %d completions\n", sent.count(),
                 window.errorCount, window.finishedRuns());
    for (auto const& box : window.boxes()) {
        std::fprintf(stderr, "  box [%s] %s\n", qm::fuzz::Escaped(box.caption).c_str(),
                     qm::fuzz::Escaped(box.text).c_str());
    }
}

// One conversation, from the first byte to the last, with everything it owns destroyed at the end
// (a download still under way removes its temporary file then).
void Converse(Input const& input) {
    net::PollEventLoop loop;
    net::SocketLayer layer(loop);
    qm::fuzz::SocketPair sockets;
    net::ClientLink link;
    qm::fuzz::RecordingWindow window;
    qm::update::UpdateSession session(layer, link);
    bool const withWindow = (input.flags & kNoWindow) == 0;
    bool const viaSocketRead = withWindow && (input.flags & kAwaitWelcome) != 0;
    bool const drained = (input.flags & kNobodyReads) == 0;
    if (withWindow) {
        window.serverAddress = kServerAddress;
        session.AttachWindow(&window);
    }
    if ((input.flags & kServerHungUp) != 0) {
        sockets.ClosePeer();
    }
    if (!drained) {
        sockets.ShrinkSendBuffer();
    }
    if (viaSocketRead) {
        window.pendingSocket = sockets.productEnd();
    } else if ((input.flags & kAwaitWelcome) != 0) {
        Require(net::HandleWelcome(link, layer, sockets.productEnd(), kServerAddress,
                                   qm::update::kServerPort) == 0,
                "HandleWelcome refused a socket");
    } else {
        ConnectLink(link, sockets.productEnd());
    }

    qm::fuzz::SentFrames sent;
    input.readSizes.Split(input.stream, [&](std::span<const std::uint8_t> read) {
        if (viaSocketRead) {
            session.OnSocketRead(sockets.productEnd(), read);
        } else {
            net::Windows_Client_ManageDatas(link, session, read);
        }
        if (drained) {
            sent.Take(sockets.Drain());
        }
    });
    Require(window.errorCount >= 0, "negative error count");
    if (std::getenv("QM_FUZZ_VERBOSE") != nullptr) {
        Describe(window, sent);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size) {
    // The session names every file relative to the current directory, which is process-wide; the
    // client directory is therefore built and entered once per process and put back into its
    // first state before every input.
    static qm::fuzz::ClientFixture fixture;
    fixture.Reset();

    Input const input = ReadInput(std::span<const std::uint8_t>(data, size));
    qm::fuzz::ServerPermissions const permissions =
        qm::fuzz::PermissionsIn(input.stream, fixture.clientDirectory());
    std::set<int> const openBefore = qm::fuzz::OpenDescriptors();

    Converse(input);

    if (qm::fuzz::OpenDescriptors() != openBefore) {
        Violation("a file descriptor was left open or closed that was not the session's");
    }
    std::string const problem = fixture.Check(permissions);
    Require(problem.empty(), problem);
    return 0;
}
