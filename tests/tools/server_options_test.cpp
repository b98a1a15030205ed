#include "update_server/server_options.h"

#include <gtest/gtest.h>

#include <vector>

namespace qm::server {
namespace {

Outcome<ServerOptions> Parse(std::vector<char const*> const& arguments) {
    return ParseServerOptions(arguments);
}

TEST(ServerOptions, RootAloneListensOnLoopbackWithoutDeletionsWithTheDefaultLimits) {
    auto const parsed = Parse({"--root", "/srv/release"});
    ASSERT_TRUE(parsed.ok()) << parsed.reason();
    EXPECT_EQ(parsed.value().root, "/srv/release");
    EXPECT_EQ(parsed.value().listenAddresses, std::vector<std::string>{"127.0.0.1"});
    EXPECT_FALSE(parsed.value().deletionFile.has_value());
    EXPECT_FALSE(parsed.value().helpWanted);
    EXPECT_FALSE(parsed.value().proxyProtocol);
    ServerLimits const& limits = parsed.value().limits;
    EXPECT_EQ(limits.maxClients, 0u);  // derived from the descriptor limit at start
    EXPECT_EQ(limits.maxPerAddress, 16u);
    EXPECT_EQ(limits.loginLimit, Seconds(10));
    EXPECT_EQ(limits.idleLimit, Seconds(120));
    EXPECT_EQ(limits.drainLimit, Seconds(30));
}

TEST(ServerOptions, EveryOptionInBothSpellings) {
    for (auto const& arguments :
         {std::vector<char const*>{"--root", "r", "--listen", "0.0.0.0", "--delete", "old.txt",
                                   "--listen", "::", "--max-clients", "500", "--max-per-address",
                                   "4", "--idle-limit", "60", "--drain-limit", "0",
                                   "--proxy-protocol", "--no-fast-path"},
          std::vector<char const*>{"--delete=old.txt", "--listen=0.0.0.0", "--root=r",
                                   "--proxy-protocol", "--no-fast-path",
                                   "--listen=::", "--max-clients=500", "--max-per-address=4",
                                   "--idle-limit=60", "--drain-limit=0"}}) {
        auto const parsed = Parse(arguments);
        ASSERT_TRUE(parsed.ok()) << parsed.reason();
        EXPECT_EQ(parsed.value().root, "r");
        EXPECT_EQ(parsed.value().listenAddresses, (std::vector<std::string>{"0.0.0.0", "::"}));
        ASSERT_TRUE(parsed.value().deletionFile.has_value());
        EXPECT_EQ(*parsed.value().deletionFile, "old.txt");
        EXPECT_TRUE(parsed.value().proxyProtocol);
        EXPECT_TRUE(parsed.value().noFastPath);
        ServerLimits const& limits = parsed.value().limits;
        EXPECT_EQ(limits.maxClients, 500u);
        EXPECT_EQ(limits.maxPerAddress, 4u);
        EXPECT_EQ(limits.idleLimit, Seconds(60));
        EXPECT_EQ(limits.drainLimit, Seconds(0));
    }
}

TEST(ServerOptions, MaxClientsAutoIsTheDefault) {
    auto const parsed = Parse({"--root", "r", "--max-clients", "7", "--max-clients", "auto"});
    ASSERT_TRUE(parsed.ok()) << parsed.reason();
    EXPECT_EQ(parsed.value().limits.maxClients, 0u);
}

TEST(ServerOptions, HelpNeedsNoRoot) {
    auto const parsed = Parse({"--help"});
    ASSERT_TRUE(parsed.ok()) << parsed.reason();
    EXPECT_TRUE(parsed.value().helpWanted);
    EXPECT_NE(ServerUsage().find("--root DIR"), std::string_view::npos);
}

TEST(ServerOptions, BadCommandLinesAreRefusedWithAReason) {
    struct Case {
        std::vector<char const*> arguments;
        char const* reasonMentions;
    };
    Case const cases[] = {
        {{}, "--root"},
        {{"--listen", "127.0.0.1"}, "--root"},
        {{"--root"}, "needs a value"},
        {{"--root="}, "needs a value"},
        {{"--root", "r", "--delete"}, "--delete needs a value"},
        {{"--root", "r", "--port", "1"}, "unknown option '--port'"},
        {{"--root", "r", "extra"}, "unknown option 'extra'"},
        {{"--help=yes"}, "unknown option '--help'"},
        {{"--root", "r", "--proxy-protocol=yes"}, "unknown option '--proxy-protocol'"},
        {{"--root", "r", "--max-clients", "0"}, "from 1 to 1000000, not '0' (or 'auto')"},
        {{"--root", "r", "--max-clients", "many"}, "--max-clients takes a whole number"},
        {{"--root", "r", "--max-per-address", "-1"}, "not '-1'"},
        {{"--root", "r", "--max-per-address", "16x"}, "not '16x'"},
        {{"--root", "r", "--idle-limit", "0"}, "--idle-limit takes a whole number from 1"},
        {{"--root", "r", "--idle-limit", "86401"}, "to 86400"},
        {{"--root", "r", "--drain-limit", "1.5"}, "--drain-limit takes a whole number from 0"},
        {{"--root", "r", "--drain-limit", "99999999999999999999999"}, "to 86400"},
    };
    for (Case const& c : cases) {
        auto const parsed = Parse(c.arguments);
        ASSERT_FALSE(parsed.ok()) << c.reasonMentions;
        EXPECT_NE(parsed.reason().find(c.reasonMentions), std::string::npos) << parsed.reason();
    }
}

TEST(ServerLimits, ClientsAreWhatTheDescriptorLimitLeavesRoomFor) {
    struct Case {
        rlim_t descriptors;
        std::size_t clients;
    };
    Case const cases[] = {
        {0, 1},     {16, 1},     {32, 1},      {36, 2},
        {256, 112}, {1024, 496}, {4096, 2032}, {RLIM_INFINITY, ((1u << 20) - 32) / 2},
    };
    for (Case const& c : cases) {
        EXPECT_EQ(MaxClientsFor(c.descriptors), c.clients) << c.descriptors;
    }
}

}  // namespace
}  // namespace qm::server
