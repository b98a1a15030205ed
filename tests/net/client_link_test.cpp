#include <gtest/gtest.h>

#include "net/client_link.h"
#include "socket_helpers.h"

namespace qm::net {
namespace {

using testing::IsOpen;
using testing::SocketPair;

class ResetLinkTest : public ::testing::Test {
  protected:
    testing::PlatformLoop loop;
    SocketLayer layer{loop};
    ClientLink link;

    void Hold(std::intptr_t socket, bool connected) {
        link.socket = testing::Socket(socket);
        link.connected = connected;
        link.from_me = 0x01020300;
        link.peerId = 42;
        link.bytesReceived = 500;
        link.recvState = 17;
        link.recvCount = 30;
        link.lastReceiveTime = 1234;
        link.hostName[0] = 'h';
        link.recvBuffer[0] = 0x7E;
    }

    void ExpectIdleWithReassemblyKept() {
        EXPECT_EQ(link.socket, kNoSocket);
        EXPECT_FALSE(link.connected);
        EXPECT_EQ(link.from_me, 0u);
        EXPECT_EQ(link.peerId, 0u);
        EXPECT_EQ(link.bytesReceived, 0u);
        EXPECT_EQ(link.recvState, 17);
        EXPECT_EQ(link.recvCount, 30);
        EXPECT_EQ(link.lastReceiveTime, 1234);
        EXPECT_EQ(link.hostName[0], 'h');
        EXPECT_EQ(link.recvBuffer[0], 0x7E);
    }
};

TEST_F(ResetLinkTest, ClosesAConnectedSocketExactlyOnce) {
    SocketPair first;
    Hold(first.ours.get(), true);
    ASSERT_EQ(layer.AsyncReceive(testing::Socket(first.ours)), 0);
    EXPECT_EQ(ResetLink(link, layer), 0);
    EXPECT_FALSE(IsOpen(first.ours.get()));
    std::intptr_t const closedNumber = first.ours.Release();
    EXPECT_EQ(layer.SelectedCount(), 0u);
    ExpectIdleWithReassemblyKept();

    // The freed number is handed out again; a second reset must not touch its new owner.
    SocketPair second;
    ASSERT_EQ(second.ours.get(), closedNumber);
    EXPECT_EQ(ResetLink(link, layer), 0);
    EXPECT_TRUE(IsOpen(second.ours.get()));
}

TEST_F(ResetLinkTest, ForgetsTheSocketOfALinkThatIsNotConnected) {
    SocketPair pair;
    Hold(pair.ours.get(), false);
    EXPECT_EQ(ResetLink(link, layer), 0);
    EXPECT_TRUE(IsOpen(pair.ours.get()));
    ExpectIdleWithReassemblyKept();
}

}  // namespace
}  // namespace qm::net
