// The session's socket side on real loopback sockets: every address of a name tried in turn, and
// a server that stays silent ended by the stall limit.
#include "update/update_connection.h"

#include <gtest/gtest.h>

#include <string>

#include "support/addresses.h"
#include "support/loop_turns.h"
#include "support/temp_dir.h"
#include "support/test_socket.h"
#include "update/recording_window.h"

namespace qm::update {
namespace {

using namespace std::chrono_literals;

using test::TestSocket;

// Listens on `address`:34005 and accepts when asked.
TestSocket ListenOn(std::string const& address) {
    TestSocket listener = test::OpenListener(address, kServerPort);
    EXPECT_TRUE(listener.valid()) << address;
    return listener;
}

class UpdateConnectionTest : public ::testing::Test {
  protected:
    // A name that resolves to an address nobody listens on, then to `address`.
    void Resolve(std::string const& address) {
        connection.emplace(loop, layer, session, [address](std::string const&, std::uint16_t port) {
            return std::vector<net::Endpoint>{*net::LiteralEndpoint("127.0.0.1", 9),
                                              *net::LiteralEndpoint(address, port)};
        });
        layer.SocketStartup();
        connection->InstallHandlers();
    }
    bool RunUntil(std::function<bool()> const& done) { return test::RunUntil(loop, done); }

    test::TempDir dir;
    test::PlatformLoop loop;
    net::SocketLayer layer{loop};
    RecordingWindow window;
    UpdateSession session{window};
    std::optional<UpdateConnection> connection;
};

TEST_F(UpdateConnectionTest, EveryAddressOfTheNameIsTriedInTurn) {
    std::string const address = test::LoopbackAddress(test::TestAddress::ConnectionEveryAddress);
    TestSocket const listener = ListenOn(address);
    Resolve(address);
    ASSERT_EQ(connection->Connect("updates.example"), 0);
    TestSocket accepted;
    EXPECT_TRUE(RunUntil([&] {
        if (!accepted.valid()) {
            accepted = test::AcceptWithin(listener, std::chrono::milliseconds(0));
        }
        return accepted.valid();
    }));
    EXPECT_TRUE(RunUntil([&] { return !window.statuses.empty(); }));
    EXPECT_EQ(window.statuses, std::vector<std::string>{"connection succesfull"});
    EXPECT_TRUE(window.boxes.empty());
}

// Before the WELCOME no timer of the session runs: only the stall limit ends the wait.
TEST_F(UpdateConnectionTest, ASilentServerMeetsTheStallLimit) {
    std::string const address = test::LoopbackAddress(test::TestAddress::ConnectionSilentServer);
    TestSocket const listener = ListenOn(address);
    Resolve(address);
    connection->SetStallLimit(1s);
    auto const started = std::chrono::steady_clock::now();
    ASSERT_EQ(connection->Connect("updates.example"), 0);
    ASSERT_TRUE(RunUntil([&] { return !window.boxes.empty(); }));
    EXPECT_GE(std::chrono::steady_clock::now() - started, 900ms);
    EXPECT_EQ(window.boxes[0].status, ExitStatus::Network);
    EXPECT_EQ(window.boxes[0].caption, "Network Error");
    EXPECT_EQ(window.boxes[0].text, "no response from the server");
}

}  // namespace
}  // namespace qm::update
