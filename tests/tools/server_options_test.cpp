#include "update_server/server_options.h"

#include <gtest/gtest.h>

#include <vector>

namespace qm::server {
namespace {

Outcome<ServerOptions> Parse(std::vector<char const*> const& arguments) {
    return ParseServerOptions(arguments);
}

TEST(ServerOptions, RootAloneListensOnLoopbackWithoutDeletions) {
    auto const parsed = Parse({"--root", "/srv/release"});
    ASSERT_TRUE(parsed.ok()) << parsed.reason();
    EXPECT_EQ(parsed.value().root, "/srv/release");
    EXPECT_EQ(parsed.value().listenAddress, "127.0.0.1");
    EXPECT_FALSE(parsed.value().deletionFile.has_value());
    EXPECT_FALSE(parsed.value().helpWanted);
}

TEST(ServerOptions, EveryOptionInBothSpellings) {
    for (auto const& arguments :
         {std::vector<char const*>{"--root", "r", "--listen", "0.0.0.0", "--delete", "old.txt"},
          std::vector<char const*>{"--delete=old.txt", "--listen=0.0.0.0", "--root=r"}}) {
        auto const parsed = Parse(arguments);
        ASSERT_TRUE(parsed.ok()) << parsed.reason();
        EXPECT_EQ(parsed.value().root, "r");
        EXPECT_EQ(parsed.value().listenAddress, "0.0.0.0");
        ASSERT_TRUE(parsed.value().deletionFile.has_value());
        EXPECT_EQ(*parsed.value().deletionFile, "old.txt");
    }
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
    };
    for (Case const& c : cases) {
        auto const parsed = Parse(c.arguments);
        ASSERT_FALSE(parsed.ok());
        EXPECT_NE(parsed.reason().find(c.reasonMentions), std::string::npos) << parsed.reason();
    }
}

}  // namespace
}  // namespace qm::server
