// Fuzzes the update session behind the frame reassembly: arbitrary server bytes, split into
// arbitrary reads, reach a live UpdateSession that works on a real client directory. The session
// has no sockets; the harness plays its connection as UpdateConnection does (the WELCOME check,
// the sends, a send that fails, the server hanging up), with a server whose behaviour the input
// decides.
//
// Input: a flags byte, four read-size bytes, then the bytes the server sends.
//   flags 0x01  the stream starts a connection: its first whole frame is checked as the WELCOME;
//               otherwise the link is already past it
//   flags 0x02  the server hangs up while the updater answers: the send of the session's answer
//               number (flags >> 4) fails
//   flags 0x04  not used (a send that would block changes nothing the session sees)
//   flags 0x08  the server closes the connection after its last byte
//
// Checked after every input: the run has ended, or it waits on something that can still end it
// (a live link, or the no-response timer); nothing outside the client directory changed (a
// sentinel directory reached through links); no file was lost that the server did not ask to
// delete; every file that changed or appeared has a checksum that the server announced; no
// temporary file and no file descriptor was left behind; everything shown is displayable text and
// the progress stays within 0..100; every frame sent is one of the updater's messages at its
// layout's length.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <span>
#include <string>

#include "net/frame.h"
#include "net/unix/poll_event_loop.h"
#include "net/welcome.h"
#include "session/client_fixture.h"
#include "session/recording_window.h"
#include "session/sent_frames.h"
#include "session/server_permissions.h"
#include "support/escaped.h"
#include "support/input_reader.h"
#include "support/open_descriptors.h"
#include "support/read_sizes.h"
#include "support/violation.h"
#include "update/update_session.h"

namespace {

using qm::fuzz::Require;
using qm::fuzz::Violation;
namespace net = qm::net;

constexpr std::uint8_t kAwaitWelcome = 0x01;
constexpr std::uint8_t kServerHangsUp = 0x02;
constexpr std::uint8_t kServerCloses = 0x08;

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

// The session's connection as the harness plays it: what UpdateConnection does with frames and
// sends, without a socket. The link never holds one, so a reset closes nothing.
class PlayedConnection final : public net::FrameSink {
  public:
    PlayedConnection(qm::update::UpdateSession& session, std::uint8_t flags)
        : session_(session), flags_(flags) {
        link_.recvState = -2;
        if ((flags & kAwaitWelcome) != 0) {
            session_.OnConnected();
            session_.OnHandshakeBegun();
            link_.awaitingWelcome = true;
        } else {
            // A link that took its WELCOME from the server 0x00000100 and was given 0x0A000001.
            link_.connected = true;
            link_.peerId = 0x00000100u;
            link_.from_me = 0x0A000001u;
        }
    }

    // The link is connected and nothing told the session it was lost.
    bool alive() const { return link_.connected || link_.awaitingWelcome; }
    qm::fuzz::SentFrames const& sent() const { return sent_; }

    void Receive(std::span<const std::uint8_t> bytes) {
        if (alive()) {
            net::Windows_Client_ManageDatas(link_, *this, bytes);
        }
    }

    void ServerCloses() {
        if (alive()) {
            Lose();
        }
    }

    void OnFrame(net::ClientLink& link, std::span<const std::uint8_t> frame) override {
        if (link.awaitingWelcome) {
            bool const accepted = net::AcceptWelcome(link, layer_, frame, kServerAddress);
            session_.OnWelcome(qm::update::LinkIds{link.from_me, link.peerId, accepted});
            SendPending();
        }
        if (link.connected) {
            session_.HandleMessage(frame);
            SendPending();
        }
    }

    void OnFrameError(net::ClientLink& link, unsigned length) override {
        net::ResetLink(link, layer_);
        session_.OnFrameError(length);
    }

  private:
    void SendPending() {
        std::span<const std::uint8_t> const pending = session_.outgoing();
        if (pending.empty() || !link_.connected) {
            session_.ClearOutgoing();  // a link that is not connected sends nothing
            return;
        }
        sent_.Take(std::vector<std::uint8_t>(pending.begin(), pending.end()));
        session_.ClearOutgoing();
        bool const fails = (flags_ & kServerHangsUp) != 0 && answers_++ == (flags_ >> 4);
        if (fails) {
            Lose();
        }
    }

    void Lose() {
        net::ResetLink(link_, layer_);
        link_.awaitingWelcome = false;
        session_.OnLinkLost();
    }

    qm::update::UpdateSession& session_;
    std::uint8_t flags_;
    net::PollEventLoop loop_;
    net::SocketLayer layer_{loop_};
    net::ClientLink link_;
    qm::fuzz::SentFrames sent_;
    int answers_ = 0;
};

// What a conversation came to, for looking at single inputs (QM_FUZZ_VERBOSE=1).
void Describe(qm::fuzz::RecordingWindow const& window, qm::fuzz::SentFrames const& sent) {
    std::fprintf(stderr, "conversation: %zu frames sent, %d errors, %d completions\n", sent.count(),
                 window.errorCount(), window.finishedRuns());
    for (auto const& box : window.boxes()) {
        std::fprintf(stderr, "  box [%s] %s\n", qm::fuzz::Escaped(box.caption).c_str(),
                     qm::fuzz::Escaped(box.text).c_str());
    }
}

// A run must never be left waiting on nothing: no box, no completion, no timer, no connection.
void RequireSomethingCanEndTheRun(qm::fuzz::RecordingWindow const& window,
                                  PlayedConnection const& connection) {
    Require(window.ended() || window.responseTimerRunning() || connection.alive(),
            "the run waits for ever: no ending, no running timer and no live connection");
}

// One conversation, from the first byte to the last, with everything it owns destroyed at the end
// (a download still under way removes its temporary file then).
void Converse(Input const& input) {
    qm::fuzz::RecordingWindow window;
    qm::update::UpdateSession session(window);
    PlayedConnection connection(session, input.flags);
    input.readSizes.Split(input.stream, [&](std::span<const std::uint8_t> read) {
        connection.Receive(read);
        RequireSomethingCanEndTheRun(window, connection);
    });
    if ((input.flags & kServerCloses) != 0) {
        connection.ServerCloses();
        RequireSomethingCanEndTheRun(window, connection);
    }
    Require(window.errorCount() >= 0, "negative error count");
    if (std::getenv("QM_FUZZ_VERBOSE") != nullptr) {
        Describe(window, connection.sent());
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
