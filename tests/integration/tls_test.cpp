// Runs with PIN: the updater speaks TLS to the reference server and accepts it only when its key
// matches one of the pins. Any other server, one that speaks plain TCP, one that offers no
// forward-secret AEAD cipher or one that never finishes the handshake, is refused before anything
// is written.
//
// The same tests hold the Windows program to the same rules: the cross check runs them with the
// .exe under wine as the updater (QM_UPDATER_BINARY) and QM_UPDATER_UNDER_WINE=1, which gives
// them addresses of their own (scripts/lib/cross-check-windows-tls.bash).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
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

// The servers' addresses, one set for the Linux program and one for the Windows program under
// wine, so that both runs may go on at once.
struct Addresses {
    TestAddress rightPin, secondPin, otherKey, plainServer, handshakeStall;
    TestAddress welcomeFrontEnd, welcomeBehind, renegotiatingFrontEnd, renegotiatingBehind;
    TestAddress plainFrontEnd, plainBehind, cbcFrontEnd, cbcBehind;
};

bool UnderWine() {
    char const* const wine = std::getenv("QM_UPDATER_UNDER_WINE");
    return wine != nullptr && std::string(wine) == "1";
}

Addresses const& ServerAddresses() {
    using A = TestAddress;
    static Addresses const forLinux{A::TlsRightPin,
                                    A::TlsSecondPin,
                                    A::TlsOtherKey,
                                    A::TlsPlainServer,
                                    A::TlsHandshakeStall,
                                    A::TlsWelcomeFrontEnd,
                                    A::TlsWelcomeBehind,
                                    A::TlsRenegotiatingFrontEnd,
                                    A::TlsRenegotiatingBehind,
                                    A::TlsPlainFrontEnd,
                                    A::TlsPlainBehind,
                                    A::TlsCbcFrontEnd,
                                    A::TlsCbcBehind};
    static Addresses const forWine{A::WineTlsRightPin,
                                   A::WineTlsSecondPin,
                                   A::WineTlsOtherKey,
                                   A::WineTlsPlainServer,
                                   A::WineTlsHandshakeStall,
                                   A::WineTlsWelcomeFrontEnd,
                                   A::WineTlsWelcomeBehind,
                                   A::WineTlsRenegotiatingFrontEnd,
                                   A::WineTlsRenegotiatingBehind,
                                   A::WineTlsPlainFrontEnd,
                                   A::WineTlsPlainBehind,
                                   A::WineTlsCbcFrontEnd,
                                   A::WineTlsCbcBehind};
    return UnderWine() ? forWine : forLinux;
}

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
        before = ClientTree();
        return updater.emplace(UpdaterOptions(client.path()));
    }

    // The run was refused before anything was written, in the client directory or outside it.
    void ExpectRefused() {
        EXPECT_EQ(updater->ExitStatus(Millis(30000)), kExitNetwork) << updater->Transcript();
        EXPECT_EQ(updater->Boxes(), std::vector<std::string>{
                                        Box("Network error", "the server could not be verified")});
        EXPECT_EQ(DescribeDifference(before, ClientTree()), "");
    }

    // The client directory and what lies beside it. The Windows program's run lock is a file in
    // the client directory, made and deleted by every run: there the directory's own time is
    // left out.
    TreeSnapshot ClientTree() const {
        TreeSnapshot snapshot = SnapshotTree(client.root(), {.withTimes = true});
        if (UnderWine()) {
            snapshot[client.path().filename().string()].modifiedNs = 0;
        }
        return snapshot;
    }

    Addresses const& at = ServerAddresses();
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
        {at.rightPin, served.pin},
        {at.secondPin, other.pin + ";" + served.pin},
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
        {"another key", at.otherKey, other.ServerArguments()},
        {"plain TCP", at.plainServer, {}},
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

// A server that offers no forward-secret AEAD cipher (here ECDHE with AES in CBC mode alone) is
// refused like any other. Wine's Schannel agrees to such a cipher whatever it is asked: there the
// updater refuses what the handshake negotiated.
TEST_F(PinnedClient, AServerWithoutAForwardSecretAeadCipherIsRefused) {
    ReferenceServer server(LoopbackAddress(at.cbcBehind), keys.path() / "release");
    ASSERT_TRUE(server.Ready()) << server.Log();
    TlsFrontEnd const front({.listenAddress = LoopbackAddress(at.cbcFrontEnd),
                             .serverAddress = LoopbackAddress(at.cbcBehind),
                             .key = served.key,
                             .certificate = served.certificate,
                             .priorities = ":-CIPHER-ALL:+AES-128-CBC:+AES-256-CBC"});
    ASSERT_TRUE(front.listening());
    Start(at.cbcFrontEnd, served.pin);
    ExpectRefused();
}

// The handshake has its own limit: a stall limit shorter than it, or none, changes nothing.
TEST_F(PinnedClient, AHandshakeThatNeverEndsIsGivenUpAfterTenSecondsWhateverTheTimeout) {
    for (std::string const timeout : {"TIMEOUT=0\n", "TIMEOUT=3\n"}) {
        SCOPED_TRACE(timeout);
        ScriptedServer silent(at.handshakeStall);
        Start(at.handshakeStall, served.pin, timeout);
        ASSERT_TRUE(silent.Accept()) << updater->Transcript();
        auto const accepted = Clock::now();
        ExpectRefused();
        EXPECT_GT(Clock::now() - accepted, Millis(9000)) << "given up before the limit";
    }
}

// A TLS front end before a plain server sends the WELCOME in one segment with the last flight of
// a TLS 1.2 handshake: the updater logs in at once, also without a stall limit to end a wait.
TEST_F(PinnedClient, AWelcomeThatCameWithTheHandshakesLastFlightIsTakenAtOnce) {
    ReferenceServer server(LoopbackAddress(at.welcomeBehind), keys.path() / "release");
    ASSERT_TRUE(server.Ready()) << server.Log();
    TlsFrontEnd const front({.listenAddress = LoopbackAddress(at.welcomeFrontEnd),
                             .serverAddress = LoopbackAddress(at.welcomeBehind),
                             .key = served.key,
                             .certificate = served.certificate,
                             .welcomeWithLastFlight = true});
    ASSERT_TRUE(front.listening());
    Process& run = Start(at.welcomeFrontEnd, served.pin, "TIMEOUT=0\n");
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
        {"no request", at.plainFrontEnd, at.plainBehind, 0},
        {"a request after 1 MiB", at.renegotiatingFrontEnd, at.renegotiatingBehind, 1u << 20},
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
        // OpenSSL answers the request with a no_renegotiation alert; the Windows program's
        // Schannel leaves it unanswered, as TLS 1.2 lets a client do (RFC 5246, 7.4.1.1).
        int const alerts = c.renegotiateAfter > 0 && !UnderWine() ? 1 : 0;
        EXPECT_EQ(front.declinedRenegotiations(), alerts);
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
