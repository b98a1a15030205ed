// The server program behind a load balancer and across releases: PROXY protocol headers from raw
// clients and from haproxy (with the packaged configuration) in front of plain and TLS servers,
// a release swapped under a download, and IPv6 beside IPv4.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "support/addresses.h"
#include "support/balancer.h"
#include "support/process.h"
#include "support/profile_text.h"
#include "support/raw_client.h"
#include "support/reference_server.h"
#include "support/release.h"
#include "support/temp_dir.h"
#include "support/tls_key.h"
#include "support/wire.h"

namespace qm::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr std::size_t kWelcome = 151;

std::string Address(TestAddress at) {
    return LoopbackAddress(at);
}

// The port of the first client from 127.0.0.1 that `log` says logged in; empty for none.
std::string PortOfLogin(std::string const& log) {
    std::string const from = "(127.0.0.1:";
    for (std::string const& line : SplitLines(log)) {
        std::size_t const at = line.find(from);
        std::size_t const end = line.find("): logged in");
        if (at != std::string::npos && end != std::string::npos && end > at) {
            return line.substr(at + from.size(), end - at - from.size());
        }
    }
    return "";
}

// An updater in an empty client directory against `server` ends with exit 0 and `release`.
void ExpectAFreshClientUpdated(std::string const& server, fs::path const& release) {
    ClientDir client;
    WriteUpdaterConfig(client.path(), server);
    Process updater(UpdaterOptions(client.path()));
    EXPECT_EQ(updater.ExitStatus(60s), 0) << updater.Transcript();
    EXPECT_EQ(ReleaseDifferences(release, client.path(), {"upd.ini", "crc.ini"}),
              std::vector<std::string>{});
}

TEST(ServerBehindABalancer, ThePeerComesFromTheProxyHeaderAndHealthChecksAreNotLogged) {
    TempDir dir;
    WriteTree(dir.path() / "release", SmallTree());
    std::string const address = Address(TestAddress::ServerProxyHeader);
    ReferenceServer server(address, dir.path() / "release",
                           {"--proxy-protocol", "--max-per-address", "1"});
    ASSERT_TRUE(server.Ready()) << server.Log();

    RawClient check(address);
    ASSERT_TRUE(check.Send(ProxyV2Local()));
    Bytes const welcome = check.Receive(kWelcome);
    ASSERT_EQ(welcome.size(), kWelcome);
    EXPECT_EQ(Bytes(welcome.begin(), welcome.begin() + 3), (Bytes{0x00, 0x97, 0x00}));

    RawClient proxied(address);
    ASSERT_TRUE(proxied.Send(ProxyV2({.source = "198.51.100.7", .sourcePort = 40001})));
    ASSERT_EQ(proxied.Receive(kWelcome).size(), kWelcome);
    ASSERT_TRUE(proxied.Send(Joined({LoginMessage(0, 0), ServerQuery(0)})));
    EXPECT_EQ(proxied.Receive(28).size(), 28u);
    EXPECT_TRUE(server.WaitForLog("(198.51.100.7:40001): logged in", 1, 5s)) << server.Log();

    // The limit per address counts the addresses of the headers: a second connection of the
    // same client is refused while the first one is logged in.
    RawClient again(address);
    ASSERT_TRUE(again.Send(ProxyV2({.source = "198.51.100.7", .sourcePort = 40002})));
    EXPECT_TRUE(again.ClosedByPeer());
    EXPECT_TRUE(server.WaitForLog("refused a connection from 198.51.100.7:40002", 1, 5s))
        << server.Log();

    RawClient bare(address);
    ASSERT_TRUE(bare.Send(LoginMessage(0, 0)));
    EXPECT_TRUE(bare.Receive(kWelcome).empty());
    EXPECT_TRUE(server.WaitForLog("closed (no PROXY protocol version 2 header)", 1, 5s))
        << server.Log();

    RawClient cut(address);  // a health check cut within its header
    Bytes const local = ProxyV2Local();
    ASSERT_TRUE(cut.Send(Bytes(local.begin(), local.begin() + 10)));
    EXPECT_TRUE(proxied.OpenAfter(300ms));
    std::string const log = server.Log();
    EXPECT_EQ(Occurrences(log, ": connected"), 1u) << log;
    EXPECT_EQ(log.find("client 256"), std::string::npos) << "the health check is not logged";
}

// The updater through haproxy with the packaged configuration, in front of a plain server and a
// TLS server that take PROXY headers.
TEST(ServerBehindABalancer, AnUpdaterThroughHaproxyCompletesAndIsLoggedWithItsOwnAddress) {
    struct Case {
        char const* what;
        TestAddress front;
        TestAddress behind;
        bool tls;
    };
    Case const cases[] = {
        {"plain", TestAddress::ServerProxyBalancer, TestAddress::ServerProxyBehind, false},
        {"TLS", TestAddress::ServerProxyTlsBalancer, TestAddress::ServerProxyTlsBehind, true},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        Release const release = SmallRelease();
        release.WriteServed(dir.path() / "release", dir.path() / "deletions");
        TlsKey const key(dir.path(), "server");
        std::vector<std::string> arguments = {"--proxy-protocol", "--delete",
                                              (dir.path() / "deletions").string()};
        if (c.tls) {
            for (std::string const& argument : key.ServerArguments()) {
                arguments.push_back(argument);
            }
        }
        ReferenceServer server(Address(c.behind), dir.path() / "release", arguments);
        ASSERT_TRUE(server.Ready()) << server.Log();
        Balancer balancer(QM_SOURCE_DIR, dir.path(), Address(c.front), {Address(c.behind)});
        ASSERT_TRUE(balancer.Ready()) << balancer.Log();

        ClientDir client;
        release.MakeOutdated(client.path());
        WriteUpdaterConfig(client.path(), Address(c.front));
        if (c.tls) {
            AddUpdaterSettings(client.path(), "PIN=" + key.pin + "\n");
        }
        Process updater(UpdaterOptions(client.path()));
        EXPECT_EQ(updater.ExitStatus(60s), 0) << updater.Transcript() << server.Log();
        EXPECT_EQ(release.Differences(client.path()), std::vector<std::string>{});
        ASSERT_TRUE(server.WaitForLog(": closed (by the client)", 1, 10s)) << server.Log();

        // haproxy logs the updater's own port; the server must name the same one, not the port
        // of haproxy's connection to it.
        std::string const port = PortOfLogin(server.Log());
        ASSERT_FALSE(port.empty()) << server.Log();
        EXPECT_TRUE(balancer.process().WaitUntil(
            [&](std::string const& out, std::string const&) {
                return out.find("127.0.0.1:" + port + " ") != std::string::npos;
            },
            10s))
            << balancer.Log() << server.Log();
        EXPECT_EQ(Occurrences(server.Log(), ": connected"), 1u) << server.Log();
    }
}

// A release published into a new directory, the link swapped and the server told: a download
// under way goes on with the release it started with, the next run gets the new one.
TEST(ServerReleases, ASwapUnderADownloadKeepsItWholeAndTheNextRunGetsTheNewRelease) {
    TempDir dir;
    std::string const address = Address(TestAddress::ServerReleaseSwap);
    std::string const oldContent = Pattern(300'000, 1);
    WriteFile(dir.path() / "releases/1/big.bin", oldContent);
    WriteFile(dir.path() / "releases/2/big.bin", Pattern(300'000, 2));
    fs::create_directory_symlink("releases/1", dir.path() / "current");
    ReferenceServer server(address, dir.path() / "current");
    ASSERT_TRUE(server.Ready()) << server.Log();

    RawClient downloading(address);
    ASSERT_EQ(downloading.Receive(kWelcome).size(), kWelcome);
    ASSERT_TRUE(downloading.Send(Joined({LoginMessage(0, 0), ListRequest(0, 0, "quillmesh.ini")})));
    ASSERT_EQ(downloading.Receive(148).size(), 148u);
    std::string received;
    auto const fetch = [&](std::uint32_t index) {
        ASSERT_TRUE(downloading.Send(ChunkRequest(0, 0, index, "big.bin")));
        Bytes const head = downloading.Receive(21);
        ASSERT_EQ(head.size(), 21u);
        Bytes const data = downloading.Receive(Read16(head, 19));
        received.append(data.begin(), data.end());
    };
    for (std::uint32_t index = 0; index < 10; ++index) {
        fetch(index);
    }
    fs::create_directory_symlink("releases/2", dir.path() / "next");
    fs::rename(dir.path() / "next", dir.path() / "current");
    ASSERT_TRUE(server.Rescan()) << server.Log();
    for (std::uint32_t index = 10; received.size() < oldContent.size(); ++index) {
        fetch(index);
        ASSERT_LT(index, 200u);
    }
    EXPECT_TRUE(received == oldContent);

    ExpectAFreshClientUpdated(address, dir.path() / "releases/2");
    EXPECT_NE(server.Log().find("rescanned: 1 file and 0 deletions in 1 list from " +
                                (dir.path() / "current").string() + " (" +
                                fs::canonical(dir.path() / "releases/2").string() + ")"),
              std::string::npos)
        << server.Log();
}

TEST(ServerAddresses, ListensOnIpv6BesideIpv4) {
    TempDir dir;
    WriteTree(dir.path() / "release", SmallTree());
    std::string const v4 = Address(TestAddress::ServerIpv6Beside);
    ReferenceServer server(v4, dir.path() / "release", {"--listen", "::1"});
    ASSERT_TRUE(server.WaitForLog("listening on", 2, 10s) || !server.process().running())
        << server.Log();
    if (server.Log().find("cannot listen on [::1]:34005: Cannot assign requested address") !=
        std::string::npos) {
        GTEST_SKIP() << "this machine has no IPv6 loopback address";
    }
    ASSERT_NE(server.Log().find("listening on [::1]:34005"), std::string::npos) << server.Log();
    for (std::string const& at : {std::string("::1"), v4}) {
        SCOPED_TRACE(at);
        ExpectAFreshClientUpdated(at, dir.path() / "release");
    }
    EXPECT_TRUE(server.WaitForLog("([::1]:", 1, 5s)) << server.Log();
}

}  // namespace
}  // namespace qm::test
