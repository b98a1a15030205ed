// Fuzzes the WELCOME handshake: HandleWelcome on a fresh connection (over a link left in any
// state by an earlier one), the reassembly of arbitrary bytes split into arbitrary reads,
// AcceptWelcome on the first whole frame, and LinkSend afterwards.
//
// Input: a flags byte, four read-size bytes, a host-name length byte (times two) and the host
// name, a 16-bit body length and a type byte for the send, then the received stream.
//
// Checked: the frames handed on are exactly those of the stream, in order, and nothing after a
// broken length; the WELCOME is accepted exactly when it is a 151-byte type-0 frame, with its ids
// and the host name (cut to fit) stored; a refused link forgets its socket without closing it;
// the byte counter and the reassembly state agree with the stream; a send goes out byte for byte
// on a connected link, not at all on any other, and a failed one closes the socket.
#include <sys/socket.h>

#include <algorithm>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "net/frame.h"
#include "net/unix/poll_event_loop.h"
#include "net/welcome.h"
#include "support/input_reader.h"
#include "support/read_sizes.h"
#include "support/socket_pair.h"
#include "support/violation.h"
#include "support/wire_format.h"

namespace {

using qm::fuzz::Require;
namespace net = qm::net;

constexpr std::uint8_t kNoSocket = 0x01;
constexpr std::uint8_t kPeerHangsUp = 0x02;

struct Input {
    std::uint8_t flags;
    qm::fuzz::ReadSizes readSizes;
    std::string host;
    int sendBodyLength;  // -1 .. 2050: both invalid ends included
    std::uint8_t sendType;
    std::span<const std::uint8_t> stream;
};

Input ReadInput(std::span<const std::uint8_t> data) {
    qm::fuzz::InputReader reader(data);
    std::uint8_t const flags = reader.Byte();
    qm::fuzz::ReadSizes sizes(reader.Bytes(qm::fuzz::kReadSizeBytes));
    std::string host = reader.Text(std::size_t{reader.Byte()} * 2);
    int const bodyLength = reader.BigEndian16() % 2052 - 1;
    std::uint8_t const type = reader.Byte();
    return Input{flags, sizes, std::move(host), bodyLength, type, reader.Rest()};
}

// Whatever a link that served an earlier connection may hold.
void LeaveStaleState(net::ClientLink& link, std::uint8_t flags) {
    link.from_me = 0xDEAD0000u | flags;
    link.peerId = 0xBEEF0000u | flags;
    link.bytesReceived = 1000u + flags;
    link.recvState = (flags >> 2) % 5 - 3;  // broken, either length byte, or mid-frame
    link.recvCount = flags >> 2;
    link.recvBuffer.fill(0xA5);
}

// Receives the frames; the first one of the connection goes to AcceptWelcome and is checked.
class WelcomeSink final : public net::FrameSink {
  public:
    WelcomeSink(net::SocketLayer& layer, qm::fuzz::SocketPair const& sockets, std::string host)
        : layer_(layer), sockets_(sockets), host_(std::move(host)) {}

    void OnFrame(net::ClientLink& link, std::span<const std::uint8_t> frame) override {
        Require(link.recvState == 0, "a frame handed on before recvState reached 0");
        frames_.emplace_back(frame.begin(), frame.end());
        if (link.awaitingWelcome) {
            CheckWelcome(link, frame);
        }
    }

    void OnFrameError(net::ClientLink& link, unsigned length) override {
        Require(!errorLength_.has_value(), "a second frame error on a broken stream");
        Require(link.recvState == net::kRecvBroken, "frame error without the broken state");
        errorLength_ = length;
    }

    std::vector<std::vector<std::uint8_t>> const& frames() const { return frames_; }
    std::optional<unsigned> errorLength() const { return errorLength_; }
    bool accepted() const { return accepted_; }

  private:
    void CheckWelcome(net::ClientLink& link, std::span<const std::uint8_t> frame) {
        bool const valid = frame.size() == qm::fuzz::wire::kWelcomeLength && frame[2] == 0;
        accepted_ = net::AcceptWelcome(link, layer_, frame, host_);
        Require(!link.awaitingWelcome, "the link still awaits its WELCOME");
        Require(accepted_ == valid,
                accepted_ ? "an invalid WELCOME was accepted" : "a valid WELCOME was refused");
        Require(link.connected == valid, "connected does not match the WELCOME's verdict");
        if (!valid) {
            Require(!link.socket.valid(), "a refused link kept its socket");
            Require(sockets_.ProductEndOpen(), "a refused WELCOME closed the socket");
            return;
        }
        Require(link.socket == net::SocketHandle(sockets_.productEnd()),
                "an accepted link lost its socket");
        Require(link.peerId == qm::fuzz::wire::Read32(frame, 3), "wrong peerId");
        Require(link.from_me == qm::fuzz::wire::Read32(frame, 7), "wrong from_me");
        std::string expected = host_.substr(0, link.hostName.size() - 1);
        expected.resize(link.hostName.size(), '\0');
        Require(std::equal(expected.begin(), expected.end(), link.hostName.begin()),
                "hostName is not the host cut to fit and zero-filled");
    }

    net::SocketLayer& layer_;
    qm::fuzz::SocketPair const& sockets_;
    std::string host_;
    std::vector<std::vector<std::uint8_t>> frames_;
    std::optional<unsigned> errorLength_;
    bool accepted_ = false;
};

void CheckFrames(WelcomeSink const& sink, qm::fuzz::wire::FrameStream const& model) {
    Require(sink.frames().size() == model.frames.size(), "wrong number of frames handed on");
    for (std::size_t i = 0; i < model.frames.size(); ++i) {
        Require(std::ranges::equal(sink.frames()[i], model.frames[i]), "a frame's bytes differ");
    }
    Require(sink.errorLength() == model.brokenLength, "the broken length was not reported");
}

void CheckReassemblyState(net::ClientLink const& link, qm::fuzz::wire::FrameStream const& model,
                          std::span<const std::uint8_t> stream, bool refused) {
    std::size_t counted = model.consumed;
    if (refused && !model.frames.empty()) {
        counted -= model.frames.front().size();  // the refusal reset the counter
    }
    Require(link.bytesReceived == counted, "bytesReceived does not count the bytes consumed");
    if (model.brokenLength) {
        Require(link.recvState == net::kRecvBroken, "a broken stream is not marked broken");
        return;
    }
    std::size_t framed = 0;
    for (auto const& frame : model.frames) {
        framed += frame.size();
    }
    std::size_t const pending = stream.size() - framed;
    if (pending == 0) {
        Require(link.recvState == -2, "recvState is not -2 between frames");
    } else if (pending == 1) {
        Require(link.recvState == -1, "recvState is not -1 after one length byte");
    } else {
        std::size_t const length = stream[framed] * 256u + stream[framed + 1];
        Require(link.recvCount == static_cast<int>(pending - 2), "wrong recvCount mid-frame");
        Require(link.recvState == static_cast<int>(length - pending), "wrong recvState mid-frame");
    }
}

// A frame sent on the link: out byte for byte when connected, otherwise not at all; a send that
// fails resets the link, closes its socket and says so.
void CheckSend(net::ClientLink& link, net::SocketLayer& layer, qm::fuzz::SocketPair& sockets,
               Input const& input) {
    if (input.sendBodyLength < 0 || input.sendBodyLength > 2048) {
        return;  // no frame of that length can be written
    }
    bool const wasConnected = link.connected;
    std::size_t const length = static_cast<std::size_t>(input.sendBodyLength) + 3;
    qm::base::ByteBuffer frame;
    std::span<std::uint8_t> const written = net::AppendFrame(frame, input.sendType, length);
    for (std::size_t i = 3; i < written.size(); ++i) {
        written[i] = static_cast<std::uint8_t>(i * 7 + 1);
    }
    int const result = net::LinkSend(link, layer, frame);
    std::vector<std::uint8_t> const received = sockets.Drain();
    bool const hungUp = (input.flags & kPeerHangsUp) != 0;
    if (!wasConnected || hungUp) {
        Require(received.empty(), "a frame went out that should not have");
        Require(result == (wasConnected ? -1 : 0), "LinkSend gave the wrong result");
        if (wasConnected) {
            Require(!link.connected && !link.socket.valid(),
                    "a failed send did not reset the link");
            Require(!sockets.ProductEndOpen(), "a failed send did not close the socket");
        }
        return;
    }
    Require(result == 0, "LinkSend returned other than 0 on an empty socket");
    Require(std::equal(received.begin(), received.end(), frame.begin(), frame.end()),
            "the frame sent differs from the frame written");
    Require(received[0] == length >> 8 && received[1] == (length & 0xFF) &&
                received[2] == input.sendType,
            "the frame header sent is wrong");
    Require(link.connected, "a good send reset the link");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size) {
    Input const input = ReadInput(std::span<const std::uint8_t>(data, size));
    net::PollEventLoop loop;
    net::SocketLayer layer(loop);
    qm::fuzz::SocketPair sockets;
    net::ClientLink link;
    LeaveStaleState(link, input.flags);

    net::SocketHandle const socket = (input.flags & kNoSocket) != 0
                                         ? net::SocketHandle{}
                                         : net::SocketHandle(sockets.productEnd());
    int const result = net::HandleWelcome(link, layer, socket, input.host, 34005);
    Require(link.from_me == 0 && link.peerId == 0 && !link.connected && link.bytesReceived == 0,
            "HandleWelcome left ids, connected or bytesReceived of an earlier connection");
    if (!socket.valid()) {
        Require(result == -1, "HandleWelcome without a socket did not return -1");
        Require(!link.socket.valid() && !link.awaitingWelcome, "a link without socket awaits");
        return 0;
    }
    Require(result == 0 && link.socket == socket && link.awaitingWelcome && link.recvState == -2,
            "HandleWelcome did not begin the handshake");
    if ((input.flags & kPeerHangsUp) != 0) {
        sockets.ClosePeer();
    }

    WelcomeSink sink(layer, sockets, input.host);
    input.readSizes.Split(input.stream, [&](std::span<const std::uint8_t> read) {
        net::Windows_Client_ManageDatas(link, sink, read);
    });
    qm::fuzz::wire::FrameStream const model = qm::fuzz::wire::SplitFrames(input.stream);
    CheckFrames(sink, model);
    bool const refused = !model.frames.empty() && !sink.accepted();
    CheckReassemblyState(link, model, input.stream, refused);
    if (model.frames.empty()) {
        Require(link.awaitingWelcome, "the link stopped awaiting before any whole frame");
    }
    CheckSend(link, layer, sockets, input);
    return 0;
}
