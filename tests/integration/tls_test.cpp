// Runs with PIN: the updater speaks TLS to the reference server and accepts it only when its key
// matches one of the pins. Any other server, one that speaks plain TCP or one that never finishes
// the handshake, is refused before anything is written.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "support/addresses.h"
#include "support/lines.h"
#include "support/process.h"
#include "support/profile_text.h"
#include "support/reference_server.h"
#include "support/release.h"
#include "support/scripted_server.h"
#include "support/temp_dir.h"
#include "support/tls_front_end.h"
#include "support/tls_key.h"
#include "support/tree_snapshot.h"

namespace qm::test {
namespace {

namespace fs = std::filesystem;

// Keys, a release and a client directory with older files of it, the pins in its upd.ini.
class PinnedClient : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(served.pin.size(), 52u) << served.pin;
        ASSERT_EQ(other.pin.size(), 52u) << other.pin;
        WriteTree(keys.path() / "release", tree);
        WriteTree(client.path(), tree, 2);
        FurnishSentinel(client.root() / "outside");
    }

    // The updater with `pins` against a server on `address`.
    Process& Start(TestAddress address, std::string const& pins, std::string const& more = "") {
        WriteUpdaterConfig(client.path(), LoopbackAddress(address));
        AddUpdaterSettings(client.path(), "PIN=" + pins + "\n" + more);
        before = SnapshotTree(client.root(), {.withTimes = true});
        return updater.emplace(UpdaterOptions(client.path()));
    }

    // The run was refused before anything was written, in the client directory or outside it.
    void ExpectRefused() {
        EXPECT_EQ(updater->ExitStatus(Millis(30000)), kExitNetwork) << updater->Transcript();
        EXPECT_EQ(updater->Boxes(), std::vector<std::string>{
                                        Box("Network error", "the server could not be verified")});
        EXPECT_EQ(DescribeDifference(before, SnapshotTree(client.root(), {.withTimes = true})), "");
    }

    std::vector<TreeFile> const tree = SmallTree();
    TempDir keys;
    TlsKey const served{keys.path(), "served"};
    TlsKey const other{keys.path(), "other"};
    ClientDir client;
    TreeSnapshot before;
    std::optional<Process> updater;
};

TEST_F(PinnedClient, AServerWhoseKeyMatchesAPinUpdatesTheClient) {
    struct Case {
        TestAddress address;
        std::string pins;
    };
    Case const cases[] = {
        {TestAddress::TlsRightPin, served.pin},
        {TestAddress::TlsSecondPin, other.pin + ";" + served.pin},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.pins);
        WriteTree(client.path(), tree, 2);
        fs::remove(client.path() / "crc.ini");
        ReferenceServer server(LoopbackAddress(c.address), keys.path() / "release",
                               served.ServerArguments());
        ASSERT_TRUE(server.Ready()) << server.Log();
        EXPECT_NE(server.Log().find(served.pin), std::string::npos) << server.Log();
        Process& run = Start(c.address, c.pins);
        EXPECT_EQ(run.ExitStatus(Millis(60000)), kExitClean) << run.Transcript();
        EXPECT_EQ(
            ReleaseDifferences(keys.path() / "release", client.path(), {"upd.ini", "crc.ini"}),
            std::vector<std::string>{});
    }
}

TEST_F(PinnedClient, AServerWithAnotherKeyOrWithoutTlsIsRefused) {
    struct Case {
        char const* name;
        TestAddress address;
        std::vector<std::string> serverArguments;
    };
    Case const cases[] = {
        {"another key", TestAddress::TlsOtherKey, other.ServerArguments()},
        {"plain TCP", TestAddress::TlsPlainServer, {}},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.name);
        ReferenceServer server(LoopbackAddress(c.address), keys.path() / "release",
                               c.serverArguments);
        ASSERT_TRUE(server.Ready()) << server.Log();
        Start(c.address, served.pin);
        ExpectRefused();
    }
}

// The handshake has its own limit: a stall limit shorter than it, or none, changes nothing.
TEST_F(PinnedClient, AHandshakeThatNeverEndsIsGivenUpAfterTenSecondsWhateverTheTimeout) {
    for (std::string const timeout : {"TIMEOUT=0\n", "TIMEOUT=3\n"}) {
        SCOPED_TRACE(timeout);
        ScriptedServer silent(TestAddress::TlsHandshakeStall);
        Start(TestAddress::TlsHandshakeStall, served.pin, timeout);
        ASSERT_TRUE(silent.Accept()) << updater->Transcript();
        auto const accepted = Clock::now();
        ExpectRefused();
        EXPECT_GT(Clock::now() - accepted, Millis(9000)) << "given up before the limit";
    }
}

// A TLS front end before a plain server sends the WELCOME in one segment with the last flight of
// a TLS 1.2 handshake: the updater logs in at once, also without a stall limit to end a wait.
TEST_F(PinnedClient, AWelcomeThatCameWithTheHandshakesLastFlightIsTakenAtOnce) {
    ReferenceServer server(LoopbackAddress(TestAddress::TlsWelcomeBehind), keys.path() / "release");
    ASSERT_TRUE(server.Ready()) << server.Log();
    TlsFrontEnd const front({.listenAddress = LoopbackAddress(TestAddress::TlsWelcomeFrontEnd),
                             .serverAddress = LoopbackAddress(TestAddress::TlsWelcomeBehind),
                             .key = served.key,
                             .certificate = served.certificate,
                             .welcomeWithLastFlight = true});
    ASSERT_TRUE(front.listening());
    Process& run = Start(TestAddress::TlsWelcomeFrontEnd, served.pin, "TIMEOUT=0\n");
    EXPECT_EQ(run.ExitStatus(Millis(20000)), kExitClean) << run.Transcript();
    EXPECT_EQ(front.handshakes(), 1);
    EXPECT_EQ(ReleaseDifferences(keys.path() / "release", client.path(), {"upd.ini", "crc.ini"}),
              std::vector<std::string>{});
}

// A server that asks for a renegotiation in the middle of a download is declined and the run goes
// on. No send waits for a handshake meanwhile, so the updater costs no more than without the
// request (a send that waited would wake the loop on the writable socket until the answer came).
TEST_F(PinnedClient, ARenegotiationAskedForInTheMiddleOfADownloadIsDeclined) {
    TreeFile const big{"data/big.bin", 8u << 20};
    WriteTreeFile(keys.path() / "release", big);
    struct Case {
        char const* name;
        TestAddress frontEnd;
        TestAddress behind;
        std::size_t renegotiateAfter;
    };
    Case const cases[] = {
        {"no request", TestAddress::TlsPlainFrontEnd, TestAddress::TlsPlainBehind, 0},
        {"a request after 1 MiB", TestAddress::TlsRenegotiatingFrontEnd,
         TestAddress::TlsRenegotiatingBehind, 1u << 20},
    };
    std::vector<long> cpuMillis;
    for (Case const& c : cases) {
        SCOPED_TRACE(c.name);
        WriteTree(client.path(), tree, 2);
        WriteTreeFile(client.path(), big, 2);
        fs::remove(client.path() / "crc.ini");
        ReferenceServer server(LoopbackAddress(c.behind), keys.path() / "release");
        ASSERT_TRUE(server.Ready()) << server.Log();
        TlsFrontEnd const front({.listenAddress = LoopbackAddress(c.frontEnd),
                                 .serverAddress = LoopbackAddress(c.behind),
                                 .key = served.key,
                                 .certificate = served.certificate,
                                 .renegotiateAfter = c.renegotiateAfter});
        ASSERT_TRUE(front.listening());
        Process& run = Start(c.frontEnd, served.pin, "WINDOW=64\n");
        std::optional<Ending> const ending = run.WaitForExit(Millis(60000));
        ASSERT_TRUE(ending.has_value()) << run.Transcript();
        EXPECT_EQ(ending->status, kExitClean) << run.Transcript();
        EXPECT_EQ(front.declinedRenegotiations(), c.renegotiateAfter > 0 ? 1 : 0);
        EXPECT_EQ(front.renegotiations(), 0);
        EXPECT_EQ(
            ReleaseDifferences(keys.path() / "release", client.path(), {"upd.ini", "crc.ini"}),
            std::vector<std::string>{});
        cpuMillis.push_back(ending->cpuMillis);
    }
    EXPECT_LE(cpuMillis[1], 2 * cpuMillis[0] + 300)
        << "without the request " << cpuMillis[0] << " ms, with it " << cpuMillis[1] << " ms";
}

}  // namespace
}  // namespace qm::test
