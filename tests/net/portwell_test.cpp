#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/tcp.h>

#include <cerrno>
#include <string>
#include <vector>

#include "net/portwell.h"
#include "net/unix/host_address.h"
#include "net/unix/poll_event_loop.h"
#include "posix_socket_helpers.h"
#include "support/process.h"
#include "support/random_bytes.h"
#include "support/wire.h"

namespace qm::net {
namespace {

using namespace std::chrono_literals;
using testing::IsOpen;
using testing::SocketPair;
using testing::UniqueFd;

bool SendsAtOnce(int fd) {
    int on = 0;
    socklen_t size = sizeof on;
    return ::getsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, &size) == 0 && on != 0;
}

// A socket layer on a real poll loop whose callbacks write down what they are told.
class SocketLayerTest : public ::testing::Test {
  protected:
    PollEventLoop loop;
    SocketLayer layer{loop};
    std::vector<std::string> calls;
    std::vector<std::vector<std::uint8_t>> reads;
    std::vector<std::uintptr_t> readAddresses;
    std::vector<int> connectErrors;

    void SetUp() override {
        layer.SocketStartup();
        SocketEventTable& table = layer.table();
        table.onRead = [this](SocketHandle, std::span<const std::uint8_t> bytes) {
            calls.push_back("read");
            reads.emplace_back(bytes.begin(), bytes.end());
            readAddresses.push_back(reinterpret_cast<std::uintptr_t>(bytes.data()));
        };
        table.onWrite = [this](SocketHandle) { calls.push_back("write"); };
        table.onClose = [this](SocketHandle) { calls.push_back("close"); };
        table.onConnect = [this](SocketHandle, int error) {
            calls.push_back("connect " + std::to_string(error));
            connectErrors.push_back(error);
        };
    }

    int Count(std::string const& call) const {
        return static_cast<int>(std::count(calls.begin(), calls.end(), call));
    }
    bool RunUntilCall(std::string const& call) {
        return testing::RunUntil(loop, [&] { return Count(call) > 0; });
    }
    int Turns(int turns) {
        int ran = 0;
        for (int turn = 0; turn < turns; ++turn) {
            ran += loop.RunOnce(5ms);
        }
        return ran;
    }
};

TEST_F(SocketLayerTest, NotificationKindsAreDistinctAndNumbered) {
    SocketEventTable const& table = layer.table();
    EXPECT_NE(table.readMessageId, 0u);
    EXPECT_NE(table.acceptMessageId, 0u);
    EXPECT_NE(table.connectMessageId, 0u);
    EXPECT_NE(table.readMessageId, table.acceptMessageId);
    EXPECT_NE(table.acceptMessageId, table.connectMessageId);
    EXPECT_NE(table.readMessageId, table.connectMessageId);
}

TEST_F(SocketLayerTest, FiveThousandBytesComeAsThreeReadsOnePerTurn) {
    SocketPair pair;
    std::vector<std::uint8_t> const sent = test::PatternBytes(5000, 7);
    ASSERT_EQ(::send(testing::Fd(pair.theirs), sent.data(), sent.size(), 0), 5000);
    ASSERT_EQ(layer.AsyncReceive(testing::Socket(pair.ours)), 0);

    std::vector<std::uint8_t> received;
    for (int turn = 0; turn < 50 && received.size() < sent.size(); ++turn) {
        std::size_t const before = reads.size();
        loop.RunOnce(20ms);
        ASSERT_LE(reads.size(), before + 1) << "more than one receive in one notification";
        if (reads.size() > before) {
            received.insert(received.end(), reads.back().begin(), reads.back().end());
        }
    }
    ASSERT_EQ(reads.size(), 3u);
    EXPECT_EQ(reads[0].size(), 2048u);
    EXPECT_EQ(reads[1].size(), 2048u);
    EXPECT_EQ(reads[2].size(), 904u);
    EXPECT_EQ(received, sent);
    // The kernel copies into a buffer on a cache-line boundary.
    for (std::uintptr_t const address : readAddresses) {
        EXPECT_EQ(address % 64, 0u);
    }
}

TEST_F(SocketLayerTest, PeerShutdownGivesExactlyOneClose) {
    SocketPair pair;
    ASSERT_EQ(layer.AsyncReceive(testing::Socket(pair.ours)), 0);
    ASSERT_EQ(::send(testing::Fd(pair.theirs), "bye", 3, 0), 3);
    pair.theirs.Reset();
    ASSERT_TRUE(RunUntilCall("close"));
    Turns(10);
    EXPECT_EQ(Count("close"), 1);
    ASSERT_EQ(reads.size(), 1u);
    EXPECT_EQ(reads[0], test::ToBytes("bye"));
    EXPECT_EQ(layer.SelectedCount(), 0u);
    EXPECT_TRUE(IsOpen(pair.ours.get())) << "the owner's close handler decides";
}

TEST_F(SocketLayerTest, PeerShutdownWithoutCloseHandlerClosesTheSocket) {
    layer.table().onClose = nullptr;
    SocketPair pair;
    ASSERT_EQ(layer.AsyncReceive(testing::Socket(pair.ours)), 0);
    pair.theirs.Reset();
    ASSERT_TRUE(testing::RunUntil(loop, [&] { return !IsOpen(pair.ours.get()); }));
    pair.ours.Release();
    EXPECT_EQ(loop.WatchCount(), 0u);
}

TEST_F(SocketLayerTest, WritabilityIsReportedOnceAndAgainOnlyAfterAWouldBlockSend) {
    SocketPair pair;
    SocketHandle const socket = testing::Socket(pair.ours);
    ASSERT_EQ(layer.AsyncReceive(socket), 0);
    ASSERT_TRUE(RunUntilCall("write"));
    EXPECT_EQ(Turns(5), 0) << "write interest left on";

    ASSERT_GT(testing::FillSendBuffer(pair.ours.get()), 0u);
    std::vector<std::uint8_t> const block = test::PatternBytes(100, 7);
    ASSERT_EQ(layer.SendAll(socket, block), -2);
    EXPECT_EQ(Turns(3), 0) << "still full, nothing to report";

    testing::DrainAll(pair.theirs.get());
    ASSERT_TRUE(testing::RunUntil(loop, [&] { return Count("write") == 2; }));
    EXPECT_EQ(Turns(5), 0);
    EXPECT_EQ(Count("write"), 2);
}

TEST_F(SocketLayerTest, SendAllSendsEverything) {
    SocketPair pair;
    std::vector<std::uint8_t> const block = test::PatternBytes(3000, 7);
    EXPECT_EQ(layer.SendAll(testing::Socket(pair.ours), block), 0);
    EXPECT_EQ(testing::ReadExactly(pair.theirs.get(), 3000), block);
}

TEST_F(SocketLayerTest, SendAllOfNothingCallsNoSend) {
    // A send on -1 would fail; an empty block must not get that far.
    EXPECT_EQ(layer.SendAll(kNoSocket, {}), 0);
}

TEST_F(SocketLayerTest, SendAllIntoAFullSocketSendsNothingAndSaysSo) {
    SocketPair pair;
    std::size_t const filled = testing::FillSendBuffer(pair.ours.get());
    std::vector<std::uint8_t> const block = test::PatternBytes(100, 7);
    EXPECT_EQ(layer.SendAll(testing::Socket(pair.ours), block), -2);
    EXPECT_EQ(testing::DrainAll(pair.theirs.get()).size(), filled);
}

TEST_F(SocketLayerTest, SendAllCutOffAfterPartOfTheBlockFails) {
    SocketPair pair;
    int const small = 4096;
    ASSERT_EQ(::setsockopt(testing::Fd(pair.ours), SOL_SOCKET, SO_SNDBUF, &small, sizeof small), 0);
    std::vector<std::uint8_t> const block = test::PatternBytes(1 << 20, 7);
    EXPECT_EQ(layer.SendAll(testing::Socket(pair.ours), block), -1);
    std::size_t const arrived = testing::DrainAll(pair.theirs.get()).size();
    EXPECT_GT(arrived, 0u);
    EXPECT_LT(arrived, block.size());
    EXPECT_TRUE(IsOpen(pair.ours.get()));
}

TEST_F(SocketLayerTest, SendAllToAClosedPeerFailsWithoutSignal) {
    SocketPair pair;
    pair.theirs.Reset();
    std::vector<std::uint8_t> const block = test::PatternBytes(10, 7);
    EXPECT_EQ(layer.SendAll(testing::Socket(pair.ours), block), -1);
    EXPECT_TRUE(IsOpen(pair.ours.get()));
}

TEST_F(SocketLayerTest, RefusedConnectReachesOnConnectWithItsError) {
    testing::ClosedPort nobody;
    UniqueFd socket(testing::Fd(layer.AsyncConnect("127.0.0.1", nobody.port())));
    ASSERT_NE(socket.get(), -1);
    EXPECT_TRUE(calls.empty()) << "the end of a connect comes through the loop";
    ASSERT_TRUE(testing::RunUntil(loop, [&] { return !connectErrors.empty(); }));
    EXPECT_EQ(connectErrors, std::vector<int>{ECONNREFUSED});
    EXPECT_EQ(layer.SelectedCount(), 0u);
    EXPECT_EQ(Turns(5), 0);
    EXPECT_TRUE(IsOpen(socket.get())) << "a failed socket is left to its owner";
}

TEST_F(SocketLayerTest, ConnectInProgressEndsLaterAndCarriesData) {
    testing::Listener listener;
    UniqueFd socket(testing::Fd(layer.AsyncConnect("127.0.0.1", listener.port())));
    ASSERT_NE(socket.get(), -1);
    EXPECT_TRUE(calls.empty());
    ASSERT_TRUE(RunUntilCall("connect 0"));
    EXPECT_EQ(Turns(3), 0) << "the connect is reported once";

    // The owner's next step: select reading, then hear the server.
    ASSERT_EQ(layer.AsyncReceive(testing::Socket(socket)), 0);
    UniqueFd server = listener.AcceptOne();
    ASSERT_NE(server.get(), -1);
    ASSERT_EQ(::send(server.get(), "hello", 5, 0), 5);
    ASSERT_TRUE(RunUntilCall("read"));
    EXPECT_EQ(reads[0], test::ToBytes("hello"));
    EXPECT_EQ(Count("write"), 1);
}

TEST_F(SocketLayerTest, DottedAddressIsConnectedToAsWritten) {
    testing::Listener listener("127.0.0.10", 34005);
    UniqueFd socket(testing::Fd(layer.AsyncConnect("127.0.0.10", 34005)));
    ASSERT_NE(socket.get(), -1);
    EXPECT_NE(::fcntl(socket.get(), F_GETFD) & FD_CLOEXEC, 0);
    EXPECT_NE(::fcntl(socket.get(), F_GETFL) & O_NONBLOCK, 0);
    EXPECT_TRUE(SendsAtOnce(socket.get())) << "small frames must not wait for acknowledgements";
    ASSERT_TRUE(RunUntilCall("connect 0"));

    sockaddr_in peer{};
    socklen_t size = sizeof peer;
    ASSERT_EQ(::getpeername(socket.get(), reinterpret_cast<sockaddr*>(&peer), &size), 0);
    EXPECT_EQ(ntohl(peer.sin_addr.s_addr), 0x7F00000Au);
    EXPECT_EQ(ntohs(peer.sin_port), 34005);
}

TEST_F(SocketLayerTest, UnresolvableHostLeavesNoSocket) {
    int const before = test::OpenDescriptorCount(::getpid());
    EXPECT_EQ(layer.AsyncConnect("no-such-host.invalid", 34005), kNoSocket);
    EXPECT_EQ(test::OpenDescriptorCount(::getpid()), before);
    EXPECT_EQ(layer.SelectedCount(), 0u);
}

TEST(HostAddressTest, OnlyNamesAreLookedUp) {
    struct Case {
        std::string host;
        bool lookedUp;
    };
    for (Case const& c : {Case{"127.0.0.1", false}, Case{"10.20.30.40", false},
                          Case{"update.example", true}, Case{"1.2.3", true}}) {
        std::vector<std::string> asked;
        in_addr const answer{htonl(0x0A000001)};
        auto const resolved = ResolveHostAddress(c.host, [&](std::string const& host) {
            asked.push_back(host);
            return std::optional<in_addr>(answer);
        });
        ASSERT_TRUE(resolved.has_value()) << c.host;
        EXPECT_EQ(asked.size(), c.lookedUp ? 1u : 0u) << c.host;
        if (!c.lookedUp) {
            in_addr expected{};
            ::inet_pton(AF_INET, c.host.c_str(), &expected);
            EXPECT_EQ(resolved->s_addr, expected.s_addr) << c.host;
        }
    }
}

TEST(HostAddressTest, ResolverAnswersForNames) {
    auto const local = LookUpHostAddress("localhost");
    ASSERT_TRUE(local.has_value());
    EXPECT_EQ(ntohl(local->s_addr) >> 24, 127u);
    EXPECT_FALSE(LookUpHostAddress("no-such-host.invalid").has_value());
}

TEST_F(SocketLayerTest, AcceptedConnectionGoesToOnAccept) {
    SocketHandle const listening = layer.AsyncListen("127.0.0.1", 0);
    ASSERT_TRUE(listening.valid());
    UniqueFd listenerOwner(testing::Fd(listening));
    std::vector<std::pair<SocketHandle, SocketHandle>> acceptedPairs;
    layer.table().onAccept = [&](SocketHandle newSocket, SocketHandle listeningSocket) {
        acceptedPairs.emplace_back(newSocket, listeningSocket);
    };
    UniqueFd client(test::ConnectTo("127.0.0.1", testing::BoundPort(listenerOwner.get())));
    ASSERT_NE(client.get(), -1);
    ASSERT_TRUE(testing::RunUntil(loop, [&] { return !acceptedPairs.empty(); }));
    UniqueFd server(testing::Fd(acceptedPairs[0].first));
    EXPECT_EQ(acceptedPairs[0].second, listening);
    EXPECT_NE(::fcntl(server.get(), F_GETFL) & O_NONBLOCK, 0);
    EXPECT_TRUE(SendsAtOnce(server.get())) << "small frames must not wait for acknowledgements";
    EXPECT_EQ(::send(server.get(), "ok", 2, 0), 2);
    char reply[2] = {};
    EXPECT_EQ(::recv(client.get(), reply, 2, MSG_WAITALL), 2);
}

TEST_F(SocketLayerTest, AcceptWithoutOnAcceptGoesToOnCloseOrIsClosed) {
    for (bool const withClose : {true, false}) {
        SCOPED_TRACE(withClose ? "onClose installed" : "no slot");
        std::vector<SocketHandle> closed;
        layer.table().onClose = nullptr;
        if (withClose) {
            layer.table().onClose = [&](SocketHandle socket) { closed.push_back(socket); };
        }
        UniqueFd listening(testing::Fd(layer.AsyncListen("127.0.0.1", 0)));
        ASSERT_NE(listening.get(), -1);
        UniqueFd client(test::ConnectTo("127.0.0.1", testing::BoundPort(listening.get())));
        ASSERT_NE(client.get(), -1);

        if (withClose) {
            ASSERT_TRUE(testing::RunUntil(loop, [&] { return !closed.empty(); }));
            UniqueFd server(testing::Fd(closed[0]));
            EXPECT_TRUE(IsOpen(server.get()));
        } else {
            // The layer closes the connection itself: the client reads the end of the stream.
            pollfd wait{client.get(), POLLIN, 0};
            for (int turn = 0; turn < 100 && ::poll(&wait, 1, 0) == 0; ++turn) {
                loop.RunOnce(20ms);
            }
            char byte = 0;
            EXPECT_EQ(::recv(client.get(), &byte, 1, MSG_DONTWAIT), 0);
        }
        layer.CloseSocket(testing::Socket(listening.Release()));
    }
}

TEST_F(SocketLayerTest, AsyncReceiveOnADescriptorThatIsNotOpenFails) {
    int fd = -1;
    {
        SocketPair pair;
        fd = testing::Fd(pair.ours);
    }
    EXPECT_EQ(layer.AsyncReceive(testing::Socket(fd)), -1);
    EXPECT_EQ(layer.SelectedCount(), 0u);
    EXPECT_EQ(loop.WatchCount(), 0u);
}

TEST_F(SocketLayerTest, CloseSocketForgetsAndCloses) {
    SocketPair pair;
    ASSERT_EQ(layer.AsyncReceive(testing::Socket(pair.ours)), 0);
    EXPECT_EQ(layer.CloseSocket(testing::Socket(pair.ours.Release())), 0);
    EXPECT_EQ(layer.SelectedCount(), 0u);
    EXPECT_EQ(loop.WatchCount(), 0u);
}

TEST(SocketLayerLifetimeTest, DestructorUnwatchesButClosesNothing) {
    PollEventLoop loop;
    SocketPair pair;
    {
        SocketLayer layer(loop);
        layer.SocketStartup();
        ASSERT_EQ(layer.AsyncReceive(testing::Socket(pair.ours)), 0);
        EXPECT_EQ(loop.WatchCount(), 2u);
    }
    EXPECT_EQ(loop.WatchCount(), 0u);
    EXPECT_TRUE(IsOpen(pair.ours.get()));
}

// The dispatcher's table, message by message. Each case starts with the socket selected for
// reading.
enum class Kind { Connect, Accept, Read, Unknown, Zero };
struct DispatchCase {
    char const* name;
    Kind kind;
    std::uint32_t event;
    std::uint32_t error;
    int result;
    std::vector<std::string> calls;
    std::size_t selectedAfter;
};

void PrintTo(DispatchCase const& c, std::ostream* out) {
    *out << c.name;
}

class DispatchTableTest : public SocketLayerTest,
                          public ::testing::WithParamInterface<DispatchCase> {
  protected:
    std::uint32_t Message(Kind kind) {
        SocketEventTable const& table = layer.table();
        switch (kind) {
            case Kind::Connect:
                return table.connectMessageId;
            case Kind::Accept:
                return table.acceptMessageId;
            case Kind::Read:
                return table.readMessageId;
            case Kind::Unknown:
                return table.readMessageId + table.acceptMessageId + table.connectMessageId;
            case Kind::Zero:
                break;
        }
        return 0;
    }
};

TEST_P(DispatchTableTest, HandlesAsTheTableSays) {
    DispatchCase const& c = GetParam();
    SocketPair pair;
    ASSERT_EQ(layer.AsyncReceive(testing::Socket(pair.ours)), 0);
    EXPECT_EQ(layer.DispatchSocketEvent(Message(c.kind), testing::Socket(pair.ours),
                                        MakeEventParameter(c.event, c.error)),
              c.result);
    EXPECT_EQ(calls, c.calls);
    EXPECT_EQ(layer.SelectedCount(), c.selectedAfter);
    EXPECT_TRUE(IsOpen(pair.ours.get()));
}

INSTANTIATE_TEST_SUITE_P(
    Messages, DispatchTableTest,
    ::testing::Values(DispatchCase{"ConnectOtherEvent", Kind::Connect, FD_READ, 0, 1, {}, 1},
                      DispatchCase{"ConnectAcceptEvent", Kind::Connect, FD_ACCEPT, 0, 1, {}, 1},
                      DispatchCase{"ConnectError",
                                   Kind::Connect,
                                   FD_CONNECT,
                                   ECONNREFUSED,
                                   1,
                                   {"connect " + std::to_string(ECONNREFUSED)},
                                   0},
                      DispatchCase{
                          "ConnectSuccess", Kind::Connect, FD_CONNECT, 0, 1, {"connect 0"}, 1},
                      DispatchCase{"AcceptError", Kind::Accept, FD_ACCEPT, ECONNABORTED, 1, {}, 1},
                      DispatchCase{"ReadNothingWaiting", Kind::Read, FD_READ, 0, 1, {}, 1},
                      DispatchCase{"ReadWrite", Kind::Read, FD_WRITE, 0, 1, {"write"}, 1},
                      DispatchCase{"ReadClose", Kind::Read, FD_CLOSE, 0, 1, {"close"}, 1},
                      DispatchCase{"ReadOtherEvent", Kind::Read, 4, 0, 0, {}, 1},
                      DispatchCase{"ReadConnectEvent", Kind::Read, FD_CONNECT, 0, 0, {}, 1},
                      DispatchCase{"UnknownMessage", Kind::Unknown, FD_READ, 0, 0, {}, 1},
                      DispatchCase{"MessageZero", Kind::Zero, FD_CONNECT, 0, 0, {}, 1}),
    [](auto const& testInfo) { return std::string(testInfo.param.name); });

TEST_F(SocketLayerTest, CloseEventWithoutHandlerClosesTheSocket) {
    layer.table().onClose = nullptr;
    SocketPair pair;
    EXPECT_EQ(layer.DispatchSocketEvent(layer.table().readMessageId, testing::Socket(pair.ours),
                                        MakeEventParameter(FD_CLOSE, 0)),
              1);
    EXPECT_FALSE(IsOpen(pair.ours.get()));
    pair.ours.Release();
}

TEST_F(SocketLayerTest, FailedReceiveIsReportedAsClose) {
    UniqueFd unconnected(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0));
    EXPECT_EQ(layer.DispatchSocketEvent(layer.table().readMessageId, testing::Socket(unconnected),
                                        MakeEventParameter(FD_READ, 0)),
              1);
    EXPECT_EQ(calls, std::vector<std::string>{"close"});
}

}  // namespace
}  // namespace qm::net
