// The server binary on its own: its command line, its refusals at start, and a client that does
// not speak the network word.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "support/addresses.h"
#include "support/process.h"
#include "support/raw_client.h"
#include "support/reference_server.h"
#include "support/temp_dir.h"
#include "support/wire.h"

namespace qm::test {
namespace {

namespace fs = std::filesystem;

struct ProgramResult {
    std::optional<int> exitStatus;
    std::string out;
    std::string err;
};

ProgramResult RunServerProgram(fs::path const& dir, std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), ReferenceServer::ServerBinary().string());
    Process program({.argv = arguments, .directory = dir});
    std::optional<int> const status = program.ExitStatus(Millis(10000));
    return {status, program.Output(), program.ErrorOutput()};
}

TEST(ServerProgram, HelpExplainsTheOptions) {
    TempDir dir;
    ProgramResult const result = RunServerProgram(dir.path(), {"--help"});
    EXPECT_EQ(result.exitStatus, 0);
    for (char const* option : {"--root DIR", "--listen ADDRESS", "--delete FILE", "34005"}) {
        EXPECT_NE(result.out.find(option), std::string::npos) << option;
    }
}

TEST(ServerProgram, RefusesToStartWithAClearMessage) {
    struct Case {
        char const* what;
        std::vector<std::string> arguments;
        int exitStatus;
        char const* message;
    };
    TempDir dir;
    WriteFile(dir.path() / "rel/data" / std::string(60, 'x'), "x");
    WriteFile(dir.path() / "good/a.txt", "a");
    WriteFile(dir.path() / "bad-deletions", "ok.txt\n/etc/passwd\n");
    std::string const rel = (dir.path() / "rel").string();
    std::string const good = (dir.path() / "good").string();
    std::string const listen = LoopbackAddress(TestAddress::RefusedStart);
    Case const cases[] = {
        {"unknown option", {"--root", good, "--port", "1"}, 2, "unknown option '--port'"},
        {"no root", {"--listen", listen}, 2, "--root"},
        {"missing root",
         {"--root", (dir.path() / "nope").string(), "--listen", listen},
         1,
         "does not exist"},
        {"path too long", {"--root", rel, "--listen", listen}, 1, "longer than 63"},
        {"bad deletion",
         {"--root", good, "--listen", listen, "--delete", (dir.path() / "bad-deletions").string()},
         1,
         "'/etc/passwd' is absolute"},
        {"missing deletion list",
         {"--root", good, "--listen", listen, "--delete", (dir.path() / "nope.txt").string()},
         1,
         "nope.txt"},
        {"bad address",
         {"--root", good, "--listen", "192.0.2.1"},
         1,
         "cannot listen on 192.0.2.1:34005: Cannot assign requested address"},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.what);
        ProgramResult const result = RunServerProgram(dir.path(), c.arguments);
        EXPECT_EQ(result.exitStatus, c.exitStatus) << result.err;
        EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
        EXPECT_EQ(result.err.find("listening on"), std::string::npos) << result.err;
    }
}

TEST(ServerProgram, APortInUseIsReported) {
    TempDir dir;
    fs::create_directories(dir.path() / "rel");
    ReferenceServer first(LoopbackAddress(TestAddress::PortInUse), dir.path() / "rel");
    ASSERT_TRUE(first.Ready()) << first.Log();
    ProgramResult const second =
        RunServerProgram(dir.path(), {"--root", (dir.path() / "rel").string(), "--listen",
                                      LoopbackAddress(TestAddress::PortInUse)});
    EXPECT_EQ(second.exitStatus, 1);
    EXPECT_NE(second.err.find("cannot listen on 127.0.0.106:34005: Address already in use"),
              std::string::npos)
        << second.err;
    EXPECT_EQ(first.Stop(), 0);
    EXPECT_NE(first.Log().find("stopping"), std::string::npos);
}

// ---- A raw client ----------------------------------------------------------------------------

Bytes LoginWith(std::string const& networkWord) {
    return LoginMessage(0, 0, networkWord);
}

Bytes const kServerQuery = ServerQuery(0x0A000001);

TEST(ServerProgram, HangsUpOnAWrongNetworkWordAndAnswersTheRightOne) {
    TempDir dir;
    fs::create_directories(dir.path() / "rel");
    ReferenceServer server(LoopbackAddress(TestAddress::NetworkWord), dir.path() / "rel");
    ASSERT_TRUE(server.Ready()) << server.Log();

    RawClient intruder(LoopbackAddress(TestAddress::NetworkWord));
    ASSERT_TRUE(intruder.connected());
    std::vector<std::uint8_t> const welcome = intruder.Receive(151);
    ASSERT_EQ(welcome.size(), 151u);
    EXPECT_EQ(welcome[0], 0x00);
    EXPECT_EQ(welcome[1], 151);
    EXPECT_EQ(welcome[2], 0);
    ASSERT_TRUE(intruder.Send(LoginWith("NOTTHEWORD")));
    ASSERT_TRUE(intruder.Send(kServerQuery));
    EXPECT_TRUE(intruder.ClosedByPeer());
    EXPECT_TRUE(server.WaitForLog("wrong network word 'NOTTHEWORD'", 1, Millis(10000)))
        << server.Log();

    RawClient member(LoopbackAddress(TestAddress::NetworkWord));
    ASSERT_TRUE(member.connected());
    std::vector<std::uint8_t> const memberWelcome = member.Receive(151);
    ASSERT_EQ(memberWelcome.size(), 151u);
    // The sender is the server, the destination a new id for each client.
    EXPECT_TRUE(std::equal(welcome.begin() + 3, welcome.begin() + 7, memberWelcome.begin() + 3));
    EXPECT_FALSE(std::equal(welcome.begin() + 7, welcome.begin() + 11, memberWelcome.begin() + 7));
    ASSERT_TRUE(member.Send(LoginWith("FENWARDIX")));
    ASSERT_TRUE(member.Send(kServerQuery));
    // The announcement, and after the 28 bytes every updater reads, the capability block.
    std::vector<std::uint8_t> const announcement = member.Receive(38);
    ASSERT_EQ(announcement.size(), 38u);
    EXPECT_EQ(announcement[1], 38);
    EXPECT_EQ(announcement[11], 3);
    EXPECT_EQ(announcement[27], 4);
    EXPECT_TRUE(std::equal(welcome.begin() + 3, welcome.begin() + 7, announcement.begin() + 3));
    EXPECT_EQ(Bytes(announcement.begin() + 28, announcement.end()),
              (Bytes{'Q', 'M', 'C', 'P', 1, 0, 0, 0, 0, 3}));
}

// Replies that the socket cannot take at once wait in the server until the client reads them.
TEST(ServerProgram, AClientThatReadsSlowlyStillGetsEveryReplyInOrder) {
    constexpr std::uint32_t kChunks = 3000;
    TempDir dir;
    std::string contents(kChunks * 2027 - 1000, '\0');
    for (std::size_t i = 0; i < contents.size(); ++i) {
        contents[i] = static_cast<char>(i * 7 + i / 2027);
    }
    WriteFile(dir.path() / "rel/big.bin", contents);
    ReferenceServer server(LoopbackAddress(TestAddress::SlowReader), dir.path() / "rel");
    ASSERT_TRUE(server.Ready()) << server.Log();

    RawClient client(LoopbackAddress(TestAddress::SlowReader), {.receiveBuffer = 4096});
    ASSERT_TRUE(client.connected());
    ASSERT_EQ(client.Receive(151).size(), 151u);
    Bytes requests =
        Joined({LoginWith("FENWARDIX"), kServerQuery, ListRequest(0, 0, "quillmesh.ini")});
    for (std::uint32_t index = 0; index < kChunks; ++index) {
        Append(requests, ChunkRequest(0, 0, index, "big.bin"));
    }
    ASSERT_TRUE(client.Send(requests));
    ASSERT_EQ(client.Receive(38 + 148).size(), 38u + 148u);  // with the capability block

    std::string received;
    for (std::uint32_t index = 0; index < kChunks; ++index) {
        std::vector<std::uint8_t> const head = client.Receive(21);
        ASSERT_EQ(head.size(), 21u) << "chunk " << index;
        ASSERT_EQ(head[11], 3) << "chunk " << index;
        ASSERT_EQ(Read32(head, 15), index);
        std::size_t const length = Read16(head, 19);
        std::vector<std::uint8_t> const data = client.Receive(length);
        ASSERT_EQ(data.size(), length) << "chunk " << index;
        received.append(data.begin(), data.end());
    }
    EXPECT_TRUE(received == contents) << "received " << received.size() << " bytes";
    EXPECT_EQ(server.Log().find("hanging up"), std::string::npos) << server.Log();
}

}  // namespace
}  // namespace qm::test
