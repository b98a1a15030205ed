// The Windows event loop: socket notifications through WSAAsyncSelect into its window, timers,
// the hold while a box is open, and handlers posted from other threads; with the socket layer on
// top, as the update run uses them. The peer is a plain blocking Winsock socket on loopback.
#include "net/win/message_loop.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "net/portwell.h"
#include "net/timer.h"
#include "support/addresses.h"
#include "support/loop_turns.h"
#include "tls/win/schannel_tls.h"
#include "win/loopback_peer.h"

namespace qm::net {
namespace {

using namespace std::chrono_literals;

using test::RunUntil;

class MessageLoopTest : public ::testing::Test {
  protected:
    MessageLoop loop;
    SocketLayer layer{loop};
    std::vector<std::string> calls;
    std::vector<std::size_t> readSizes;

    void SetUp() override {
        ASSERT_EQ(layer.SocketStartup(), 0);
        SocketEventTable& table = layer.table();
        table.onConnect = [this](SocketHandle, int error) {
            calls.push_back("connect " + std::to_string(error));
        };
        table.onRead = [this](SocketHandle, std::span<const std::uint8_t> bytes) {
            readSizes.push_back(bytes.size());
        };
        table.onClose = [this](SocketHandle socket) {
            calls.push_back("close");
            layer.CloseSocket(socket);
        };
        table.onWrite = [this](SocketHandle) { calls.push_back("write"); };
    }
    std::size_t Count(std::string const& call) const {
        return static_cast<std::size_t>(std::count(calls.begin(), calls.end(), call));
    }
    std::size_t Received() const {
        std::size_t total = 0;
        for (std::size_t const size : readSizes) {
            total += size;
        }
        return total;
    }
};

TEST_F(MessageLoopTest, TimersFireOnceInTheOrderTheyComeDue) {
    std::vector<int> fired;
    Timer later(loop);
    Timer sooner(loop);
    Timer stopped(loop);
    later.Start(120ms, [&] { fired.push_back(2); });
    sooner.Start(40ms, [&] { fired.push_back(1); });
    stopped.Start(60ms, [&] { fired.push_back(3); });
    stopped.Stop();
    auto const started = std::chrono::steady_clock::now();
    ASSERT_TRUE(RunUntil(loop, [&] { return fired.size() == 2; }));
    EXPECT_GE(std::chrono::steady_clock::now() - started, 120ms);
    EXPECT_EQ(fired, (std::vector<int>{1, 2}));
    RunUntil(
        loop, [] { return false; }, 100ms);
    EXPECT_EQ(fired.size(), 2u);
}

// A timer due now runs in the next turn, as a socket event does, not a window timer's 10 ms later:
// the socket layer reads what a TLS channel holds that way, a record after another.
TEST_F(MessageLoopTest, ATimerDueNowRunsInTheNextTurn) {
    int fired = 0;
    Timer now(loop);
    now.Start(0ms, [&] { ++fired; });
    EXPECT_EQ(fired, 0);
    loop.RunOnce(0ms);
    EXPECT_EQ(fired, 1);
}

TEST_F(MessageLoopTest, AConnectReadsOnePerNotificationAndOneCloseAtTheEnd) {
    test::win::LoopbackPeer peer(test::TestAddress::WindowsMessageLoop);
    ASSERT_TRUE(peer.listening());
    SocketHandle const socket = layer.AsyncConnect(
        test::LoopbackAddress(test::TestAddress::WindowsMessageLoop), test::kPort);
    ASSERT_TRUE(socket.valid());
    ASSERT_TRUE(peer.Accept());
    ASSERT_TRUE(RunUntil(loop, [&] { return Count("connect 0") == 1; }));
    ASSERT_EQ(layer.AsyncReceive(socket), 0);
    peer.Send(std::string(5000, 'x'));
    ASSERT_TRUE(RunUntil(loop, [&] { return Received() == 5000; }));
    for (std::size_t const size : readSizes) {
        EXPECT_LE(size, kReadBufferSize) << "one receive of at most 2048 bytes per notification";
    }
    EXPECT_GE(readSizes.size(), 3u);
    peer.Close();
    ASSERT_TRUE(RunUntil(loop, [&] { return Count("close") == 1; }));
    RunUntil(
        loop, [] { return false; }, 200ms);
    EXPECT_EQ(Count("close"), 1u);
    EXPECT_EQ(layer.SelectedCount(), 0u);
}

TEST_F(MessageLoopTest, ARefusedConnectEndsWithItsError) {
    // Nothing listens on this address.
    SocketHandle const socket = layer.AsyncConnect(
        test::LoopbackAddress(test::TestAddress::WindowsSocketLayer), test::kPort);
    ASSERT_TRUE(socket.valid());
    ASSERT_TRUE(RunUntil(loop, [&] { return !calls.empty(); }));
    EXPECT_NE(calls.front(), "connect 0");
    EXPECT_EQ(calls.front().rfind("connect ", 0), 0u);
    layer.CloseSocket(socket);
}

// With pins (Schannel), a connect is reported only once the handshake has ended: a peer that
// answers in plain bytes or with a broken record is refused, never taken for a plain server.
TEST_F(MessageLoopTest, APinnedConnectToAPeerWithoutTlsEndsUnverified) {
    struct Case {
        test::TestAddress address;
        std::string answer;
    };
    Case const cases[] = {
        // A plain server's first frame.
        {test::TestAddress::WindowsTlsPlainPeer,
         std::string("\x00\x97\x00", 3) + std::string(148, 'w')},
        // A whole ServerHello too short to hold its fields.
        {test::TestAddress::WindowsTlsGarbagePeer,
         std::string("\x16\x03\x03\x00\x06\x02\x00\x00\x02\x03\x03", 11)},
    };
    std::string problem;
    KeyPin const pin{};
    layer.UseTls(tls::MakePinnedClientFactory(std::span(&pin, 1), problem));
    ASSERT_EQ(problem, "");
    for (Case const& c : cases) {
        SCOPED_TRACE(test::LoopbackAddress(c.address));
        calls.clear();
        test::win::LoopbackPeer peer(c.address);
        ASSERT_TRUE(peer.listening());
        SocketHandle const socket =
            layer.AsyncConnect(test::LoopbackAddress(c.address), test::kPort);
        ASSERT_TRUE(socket.valid());
        ASSERT_TRUE(peer.Accept());
        peer.Send(c.answer);  // and the connection stays open
        ASSERT_TRUE(RunUntil(loop, [&] { return !calls.empty(); }));
        EXPECT_EQ(calls, std::vector<std::string>{"connect " + std::to_string(kServerNotVerified)});
        layer.CloseSocket(socket);
    }
}

TEST_F(MessageLoopTest, WhileHeldNeitherSocketEventsNorTimersRun) {
    test::win::LoopbackPeer peer(test::TestAddress::WindowsHeldEvents);
    ASSERT_TRUE(peer.listening());
    SocketHandle const socket = layer.AsyncConnect(
        test::LoopbackAddress(test::TestAddress::WindowsHeldEvents), test::kPort);
    ASSERT_TRUE(peer.Accept());
    ASSERT_TRUE(RunUntil(loop, [&] { return Count("connect 0") == 1; }));
    ASSERT_EQ(layer.AsyncReceive(socket), 0);
    RunUntil(
        loop, [] { return false; }, 100ms);
    bool fired = false;
    {
        ModalHold const hold(loop);
        Timer timer(loop);
        timer.Start(20ms, [&] { fired = true; });
        peer.Send("held");
        // A box's own message loop goes on dispatching the window's messages meanwhile.
        RunUntil(
            loop, [] { return false; }, 300ms);
        EXPECT_FALSE(fired);
        EXPECT_EQ(Received(), 0u);
        timer.Stop();
    }
    Timer after(loop);
    after.Start(10ms, [&] { fired = true; });
    ASSERT_TRUE(RunUntil(loop, [&] { return Received() == 4 && fired; }));
    layer.CloseSocket(socket);
}

TEST_F(MessageLoopTest, HandlersPostedFromAnotherThreadRunOnTheLoop) {
    std::thread::id ranOn;
    std::thread([&] { loop.Post([&] { ranOn = std::this_thread::get_id(); }); }).join();
    ASSERT_TRUE(RunUntil(loop, [&] { return ranOn != std::thread::id(); }));
    EXPECT_EQ(ranOn, std::this_thread::get_id());
}

TEST_F(MessageLoopTest, StopEndsRun) {
    Timer stop(loop);
    stop.Start(30ms, [&] { loop.Stop(); });
    loop.Run();
    EXPECT_TRUE(loop.Stopped());
}

}  // namespace
}  // namespace qm::net
