#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "net/frame.h"
#include "net/welcome.h"
#include "socket_helpers.h"
#include "support/wire.h"

namespace qm::net {
namespace {

using Bytes = std::vector<std::uint8_t>;
using testing::IsOpen;
using testing::SocketPair;

// Does with each frame what the update session does: the first one is checked as the WELCOME,
// the later ones are kept.
class SessionLikeSink : public FrameSink {
  public:
    SessionLikeSink(SocketLayer& layer, std::string host) : layer_(layer), host_(std::move(host)) {}

    std::vector<bool> welcomes;
    std::vector<Bytes> frames;
    int errors = 0;

    void OnFrame(ClientLink& link, std::span<const std::uint8_t> frame) override {
        if (link.awaitingWelcome) {
            welcomes.push_back(AcceptWelcome(link, layer_, frame, host_));
        } else {
            frames.emplace_back(frame.begin(), frame.end());
        }
    }
    void OnFrameError(ClientLink&, unsigned) override { ++errors; }

  private:
    SocketLayer& layer_;
    std::string host_;
};

// A WELCOME-shaped frame of `type` and `size` from sender 42 that assigns id 01020300; the bytes
// after the ids, which are not examined, are not zero.
Bytes Welcome(std::uint8_t type, std::size_t size) {
    Bytes frame = test::WelcomeWith(type, size, 0x2A, 0x01020300);
    std::fill(frame.begin() + 11, frame.end(), 0x61);
    return frame;
}

class WelcomeTest : public ::testing::Test {
  protected:
    testing::PlatformLoop loop;
    SocketLayer layer{loop};
    ClientLink link;
    SessionLikeSink sink{layer, "updates.example"};
    SocketPair pair;

    void SetUp() override {
        // Left over from an earlier connection; the handshake starts afresh.
        link.from_me = 9;
        link.peerId = 9;
        link.bytesReceived = 99;
        link.recvState = 40;
        ASSERT_EQ(HandleWelcome(link, layer, testing::Socket(pair.ours), "updates.example", 34005),
                  0);
    }
    void Feed(std::span<const std::uint8_t> bytes) {
        Windows_Client_ManageDatas(link, sink, bytes);
    }
};

TEST_F(WelcomeTest, HandshakeStartsOnACleanRecord) {
    EXPECT_EQ(link.socket, testing::Socket(pair.ours));
    EXPECT_TRUE(link.awaitingWelcome);
    EXPECT_FALSE(link.connected);
    EXPECT_EQ(link.from_me, 0u);
    EXPECT_EQ(link.peerId, 0u);
    EXPECT_EQ(link.bytesReceived, 0u);
    EXPECT_EQ(link.recvState, -2);
}

TEST_F(WelcomeTest, ValidWelcomeConnectsTheLink) {
    Feed(Welcome(0, 151));
    EXPECT_EQ(sink.welcomes, std::vector<bool>{true});
    EXPECT_TRUE(link.connected);
    EXPECT_FALSE(link.awaitingWelcome);
    EXPECT_EQ(link.peerId, 42u);
    EXPECT_EQ(link.from_me, 0x01020300u);
    EXPECT_EQ(link.socket, testing::Socket(pair.ours));
    EXPECT_STREQ(link.hostName.data(), "updates.example");
    EXPECT_TRUE(sink.frames.empty());
}

TEST_F(WelcomeTest, InvalidFirstFramesAreRefusedWithoutClosing) {
    struct Case {
        char const* what;
        Bytes frame;
    };
    for (Case const& c : {Case{"type 4", Welcome(4, 151)}, Case{"150 bytes", Welcome(0, 150)},
                          Case{"152 bytes", Welcome(0, 152)}}) {
        SCOPED_TRACE(c.what);
        sink.welcomes.clear();
        ASSERT_EQ(HandleWelcome(link, layer, testing::Socket(pair.ours), "updates.example", 34005),
                  0);
        Feed(c.frame);
        EXPECT_EQ(sink.welcomes, std::vector<bool>{false});
        EXPECT_FALSE(link.connected);
        EXPECT_FALSE(link.awaitingWelcome);
        EXPECT_EQ(link.socket, kNoSocket);
        EXPECT_EQ(link.peerId, 0u);
        EXPECT_TRUE(IsOpen(pair.ours.get()));
        EXPECT_TRUE(sink.frames.empty());
    }
}

TEST_F(WelcomeTest, WelcomeSplitOverTwoReadsIsAccepted) {
    Bytes const welcome = Welcome(0, 151);
    Feed(std::span(welcome).first(1));
    EXPECT_TRUE(sink.welcomes.empty());
    Feed(std::span(welcome).subspan(1));
    EXPECT_EQ(sink.welcomes, std::vector<bool>{true});
    EXPECT_TRUE(link.connected);
}

TEST_F(WelcomeTest, FrameAfterTheWelcomeInTheSameReadFollowsIt) {
    Bytes const next{0x00, 0x06, 0x04, 0xAA, 0xBB, 0xCC};
    Feed(test::Joined({Welcome(0, 151), next}));
    EXPECT_EQ(sink.welcomes, std::vector<bool>{true});
    EXPECT_EQ(sink.frames, std::vector<Bytes>{next});
}

TEST_F(WelcomeTest, LongHostNameIsCutToFit) {
    std::string const host(300, 'q');
    ASSERT_TRUE(AcceptWelcome(link, layer, Welcome(0, 151), host));
    EXPECT_EQ(std::strlen(link.hostName.data()), 262u);
    EXPECT_EQ(link.hostName[261], 'q');
}

TEST(HandleWelcomeTest, NoSocketIsAFailure) {
    testing::PlatformLoop loop;
    SocketLayer layer(loop);
    ClientLink link;
    link.connected = true;
    EXPECT_EQ(HandleWelcome(link, layer, kNoSocket, "updates.example", 34005), -1);
    EXPECT_EQ(link.socket, kNoSocket);
    EXPECT_FALSE(link.connected);
    EXPECT_FALSE(link.awaitingWelcome);
}

class LinkSendTest : public ::testing::Test {
  protected:
    testing::PlatformLoop loop;
    SocketLayer layer{loop};
    ClientLink link;
    SocketPair pair;
    // A frame of 15 bytes, type 4: 0xAB first in its body, 0xCD last.
    base::ByteBuffer frame = [] {
        base::ByteBuffer bytes;
        std::span<std::uint8_t> const written = AppendFrame(bytes, 4, 15);
        written[3] = 0xAB;
        written[14] = 0xCD;
        return bytes;
    }();

    void Connect() {
        ASSERT_EQ(HandleWelcome(link, layer, testing::Socket(pair.ours), "updates.example", 34005),
                  0);
        ASSERT_TRUE(AcceptWelcome(link, layer, Welcome(0, 151), "updates.example"));
    }
};

TEST_F(LinkSendTest, IdleLinkSendsNothing) {
    link.socket = testing::Socket(pair.ours);  // held but not connected: a refused handshake
    EXPECT_EQ(LinkSend(link, layer, frame), 0);
    EXPECT_TRUE(testing::DrainAll(pair.theirs.get()).empty());
}

TEST_F(LinkSendTest, ConnectedLinkSendsTheFrame) {
    Connect();
    EXPECT_EQ(LinkSend(link, layer, frame), 0);
    Bytes expected{0x00, 0x0F, 0x04, 0xAB};
    expected.resize(14, 0x00);
    expected.push_back(0xCD);
    EXPECT_EQ(testing::ReadExactly(pair.theirs.get(), 15), expected);
}

TEST_F(LinkSendTest, WouldBlockKeepsTheLink) {
    Connect();
    testing::FillSendBuffer(pair.ours.get());
    EXPECT_EQ(LinkSend(link, layer, frame), -2);
    EXPECT_TRUE(link.connected);
    EXPECT_EQ(link.socket, testing::Socket(pair.ours));
}

// The caller learns of the failure, so that it can end the run as on a lost connection; later
// sends on the reset link go nowhere.
TEST_F(LinkSendTest, FailedSendResetsTheLinkClosesTheSocketAndSaysSo) {
    Connect();
    qm::test::ResetOnClose(pair.theirs);  // gone, and says so to the next send at once
    pair.theirs.Reset();
    EXPECT_EQ(LinkSend(link, layer, frame), -1);
    EXPECT_FALSE(link.connected);
    EXPECT_EQ(link.socket, kNoSocket);
    EXPECT_FALSE(IsOpen(pair.ours.get()));
    pair.ours.Release();
    EXPECT_EQ(LinkSend(link, layer, frame), 0);
}

}  // namespace
}  // namespace qm::net
