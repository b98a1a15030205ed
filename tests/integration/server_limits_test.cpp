// The server program's limits on what clients may take: how many at once and from one address,
// the time to log in, clients that take nothing of what they are sent, accepts that fail for lack
// of descriptors, and draining on SIGTERM. Raw clients speak the bytes.
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <csignal>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "support/addresses.h"
#include "support/process.h"
#include "support/raw_client.h"
#include "support/reference_server.h"
#include "support/release.h"
#include "support/temp_dir.h"
#include "support/wire.h"

namespace qm::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr std::size_t kWelcome = 151;
constexpr std::size_t kBigFile = 4 * 1024 * 1024;

// A release with one large file, served by the program with `arguments`.
struct Served {
    explicit Served(TestAddress at, std::vector<std::string> const& arguments = {},
                    std::optional<rlim_t> descriptorLimit = std::nullopt)
        : address(LoopbackAddress(at)) {
        WriteFile(dir.path() / "release/big.bin", Pattern(kBigFile, 7));
        server =
            std::make_unique<ReferenceServer>(address, dir.path() / "release", arguments,
                                              ReferenceServer::ServerBinary(), descriptorLimit);
    }
    bool Logged(std::string const& text, std::size_t times = 1) {
        return server->WaitForLog(text, times, 10s);
    }

    TempDir dir;
    std::string address;
    std::unique_ptr<ReferenceServer> server;
};

// The WELCOME arrived.
bool Welcomed(RawClient& client) {
    return client.Receive(kWelcome).size() == kWelcome;
}

// Takes the WELCOME and logs in.
bool LogIn(RawClient& client) {
    return Welcomed(client) && client.Send(LoginMessage(0, 0));
}

TEST(ServerLimits, AFullServerClosesItsOldestConnectionNotLoggedInElseRefuses) {
    Served served(TestAddress::ServerFull, {"--max-clients", "3"});
    ASSERT_TRUE(served.server->Ready()) << served.server->Log();
    RawClient first(served.address), second(served.address), third(served.address);
    ASSERT_TRUE(Welcomed(first));
    ASSERT_TRUE(LogIn(second));
    ASSERT_TRUE(Welcomed(third));
    ASSERT_TRUE(served.Logged("logged in"));

    RawClient fourth(served.address);
    EXPECT_TRUE(LogIn(fourth));
    EXPECT_TRUE(first.ClosedByPeer());
    EXPECT_TRUE(second.OpenAfter(200ms));
    EXPECT_TRUE(
        served.Logged(": closed (to make room for a new connection: 3 clients, the most "
                      "at once)"))
        << served.server->Log();

    ASSERT_TRUE(third.Send(LoginMessage(0, 0)));
    ASSERT_TRUE(served.Logged("logged in", 3));
    RawClient fifth(served.address);
    EXPECT_TRUE(fifth.Receive(kWelcome).empty());
    EXPECT_TRUE(fifth.ClosedByPeer());
    EXPECT_TRUE(served.Logged("refused a connection from 127.0.0.1:"));
    EXPECT_TRUE(served.Logged(": 3 clients, the most at once"));
    for (RawClient* member : {&second, &third, &fourth}) {
        EXPECT_TRUE(member->OpenAfter(100ms));
    }
}

// The clients' addresses come from PROXY headers here, since loopback clients are not counted.
TEST(ServerLimits, OneAddressMakesRoomAmongItsOwnConnectionsOnly) {
    Served served(TestAddress::ServerPerAddress, {"--proxy-protocol", "--max-per-address", "2"});
    ASSERT_TRUE(served.server->Ready()) << served.server->Log();
    std::uint16_t port = 50000;
    // A connection from `source`, its header sent.
    auto const from = [&](std::string const& source) {
        auto client = std::make_unique<RawClient>(served.address);
        EXPECT_TRUE(client->Send(ProxyV2({.source = source, .sourcePort = port++})));
        return client;
    };
    std::string const a = "198.51.100.1";
    auto a1 = from(a), b1 = from("198.51.100.2"), a2 = from(a);
    ASSERT_TRUE(LogIn(*a1));
    ASSERT_TRUE(Welcomed(*b1));  // older than a2, from another address
    ASSERT_TRUE(Welcomed(*a2));

    auto a3 = from(a);
    ASSERT_TRUE(LogIn(*a3));
    EXPECT_TRUE(a2->ClosedByPeer());
    EXPECT_TRUE(b1->OpenAfter(200ms));
    EXPECT_TRUE(served.Logged("closed (to make room for a new connection: 2 clients from " + a +
                              ", the most from one address)"))
        << served.server->Log();

    ASSERT_TRUE(served.Logged("logged in", 2));
    auto a4 = from(a);
    EXPECT_TRUE(a4->Receive(kWelcome).empty());
    EXPECT_TRUE(served.Logged("refused a connection from " + a + ":"));
    auto b2 = from("198.51.100.2");
    EXPECT_TRUE(LogIn(*b2));

    // Clients on this machine are not counted per address.
    std::vector<std::unique_ptr<RawClient>> local;
    for (int i = 0; i < 4; ++i) {
        local.push_back(from("127.0.0.1"));
        EXPECT_TRUE(Welcomed(*local.back()));
    }
    for (auto const& client : local) {
        EXPECT_TRUE(client->OpenAfter(100ms));
    }
}

TEST(ServerLimits, AConnectionThatDoesNotLogInWithinTenSecondsIsClosed) {
    Served served(TestAddress::ServerLoginLimit);
    ASSERT_TRUE(served.server->Ready()) << served.server->Log();
    RawClient silent(served.address, {.timeout = 15s});
    RawClient welcomed(served.address, {.timeout = 15s});
    RawClient member(served.address);
    ASSERT_TRUE(Welcomed(welcomed));
    ASSERT_TRUE(LogIn(member));
    auto const start = Clock::now();
    EXPECT_TRUE(silent.ClosedByPeer());
    EXPECT_TRUE(welcomed.ClosedByPeer());
    EXPECT_GE(Clock::now() - start, 8s);
    EXPECT_TRUE(member.OpenAfter(100ms));
    EXPECT_TRUE(served.Logged("closed (no login within 10 s)"));
}

// A client that requests much and reads nothing is closed after the idle limit; one that asks for
// nothing more (an updater checksumming a large file) stays.
TEST(ServerLimits, AClientThatTakesNothingItWasSentIsClosedAfterTheIdleLimit) {
    Served served(TestAddress::ServerIdleLimit, {"--idle-limit", "1"});
    ASSERT_TRUE(served.server->Ready()) << served.server->Log();
    RawClient quiet(served.address);
    ASSERT_TRUE(LogIn(quiet));
    ASSERT_TRUE(quiet.Send(Joined({ServerQuery(0), ListRequest(0, 0, "quillmesh.ini")})));
    EXPECT_EQ(quiet.Receive(28 + 148).size(), 28u + 148u);

    RawClient stalled(served.address, {.receiveBuffer = 4096, .timeout = 10s});
    ASSERT_TRUE(LogIn(stalled));
    Bytes requests = ListRequest(0, 0, "quillmesh.ini");
    for (std::uint32_t index = 0; index < 300; ++index) {
        Append(requests, ChunkRequest(0, 0, index, "big.bin"));
    }
    ASSERT_TRUE(stalled.Send(requests));
    auto const start = Clock::now();
    EXPECT_TRUE(served.Logged("closed (took nothing of what it was sent for 1 s)"))
        << served.server->Log();
    EXPECT_GE(Clock::now() - start, 900ms);
    EXPECT_TRUE(stalled.ClosedByPeer());
    EXPECT_TRUE(quiet.OpenAfter(1500ms));
}

// The sanitizers' runtime needs descriptors of its own (UBSan's check of a dynamic type opens a
// pipe), so a sanitized server that runs out of them reports a fault that is not there.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kDescriptorsMayRunOut = false;
#else
constexpr bool kDescriptorsMayRunOut = true;
#endif

// Out of descriptors, the server rests its listening socket instead of spinning, and serves again
// once connections have gone.
TEST(ServerLimits, AcceptsThatFailForLackOfDescriptorsWaitAndRecover) {
    if (!kDescriptorsMayRunOut) {
        GTEST_SKIP() << "the sanitizers' runtime fails without descriptors of its own";
    }
    Served served(TestAddress::ServerAcceptRest, {"--max-clients", "1000"}, 40);
    ASSERT_TRUE(served.server->Ready()) << served.server->Log();
    std::vector<std::unique_ptr<RawClient>> idle;
    for (int i = 0; i < 60; ++i) {
        idle.push_back(std::make_unique<RawClient>(served.address));
        ASSERT_TRUE(idle.back()->connected());
    }
    EXPECT_TRUE(
        served.Logged("cannot accept connections: Too many open files; listening again in 250 ms"))
        << served.server->Log();
    RawClient member(served.address, {.timeout = 20s});
    EXPECT_TRUE(LogIn(member));
    ASSERT_TRUE(member.Send(ServerQuery(0)));
    EXPECT_EQ(member.Receive(28).size(), 28u);
    EXPECT_TRUE(served.server->process().running());
}

TEST(ServerLimits, SigtermLetsClientsInTheMiddleOfARunFinishAndRefusesNewOnes) {
    Served served(TestAddress::ServerDrain);
    ASSERT_TRUE(served.server->Ready()) << served.server->Log();
    RawClient member(served.address), waiting(served.address);
    ASSERT_TRUE(LogIn(member));
    ASSERT_TRUE(Welcomed(waiting));
    ASSERT_TRUE(member.Send(
        Joined({ListRequest(0, 0, "quillmesh.ini"), ChunkRequest(0, 0, 0, "big.bin")})));
    ASSERT_EQ(member.Receive(148 + 21 + kChunkSize).size(), 148u + 21u + kChunkSize);

    served.server->process().Signal(SIGTERM);
    EXPECT_TRUE(served.Logged("draining: 1 client in the middle of a run")) << served.server->Log();
    EXPECT_TRUE(waiting.ClosedByPeer());
    EXPECT_FALSE(RawClient(served.address).connected());
    ASSERT_TRUE(member.Send(ChunkRequest(0, 0, 1, "big.bin")));
    Bytes const chunk = member.Receive(21 + kChunkSize);
    ASSERT_EQ(chunk.size(), 21u + kChunkSize);
    EXPECT_EQ(Read32(chunk, 15), 1u);
    EXPECT_TRUE(served.server->process().running());

    ::shutdown(member.fd(), SHUT_RDWR);
    EXPECT_EQ(served.server->process().ExitStatus(5000ms), 0);
    EXPECT_TRUE(served.Logged("all clients done"));
}

TEST(ServerLimits, TheDrainEndsAtItsLimitOrAtOnceOnASecondStop) {
    struct Case {
        char const* what;
        std::vector<std::string> arguments;
        std::vector<int> signals;  // after the first SIGTERM
        char const* logged;
    };
    Case const cases[] = {
        {"drain limit of 1 s", {"--drain-limit", "1"}, {}, "drain limit reached: 1 client cut off"},
        {"a second SIGTERM", {}, {SIGTERM}, "stopping\n"},
        {"SIGINT", {}, {SIGINT}, "stopping\n"},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.what);
        Served served(TestAddress::ServerDrainLimit, c.arguments);
        ASSERT_TRUE(served.server->Ready()) << served.server->Log();
        RawClient member(served.address);
        ASSERT_TRUE(LogIn(member));
        ASSERT_TRUE(served.Logged("logged in"));
        served.server->process().Signal(SIGTERM);
        ASSERT_TRUE(served.Logged("draining"));
        for (int signal : c.signals) {
            served.server->process().Signal(signal);
        }
        EXPECT_EQ(served.server->process().ExitStatus(5000ms), 0);
        EXPECT_NE(served.server->Log().find(c.logged), std::string::npos) << served.server->Log();
        EXPECT_TRUE(member.ClosedByPeer());
    }
}

}  // namespace
}  // namespace qm::test
