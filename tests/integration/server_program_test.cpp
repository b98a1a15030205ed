// The server binary on its own: its command line, its refusals at start, and a client that does
// not speak the network word.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "support/addresses.h"
#include "support/process.h"
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

// A blocking loopback connection with a receive timeout, speaking bytes.
class RawClient {
  public:
    // A `receiveBuffer` above 0 makes the socket's receive buffer that small.
    explicit RawClient(std::string const& address, int receiveBuffer = 0)
        : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        timeval const timeout{5, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        if (receiveBuffer > 0) {
            ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        }
        sockaddr_in server{};
        server.sin_family = AF_INET;
        server.sin_port = htons(34005);
        ::inet_pton(AF_INET, address.c_str(), &server.sin_addr);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&server), sizeof server) == 0;
    }
    ~RawClient() { ::close(fd_); }
    RawClient(RawClient const&) = delete;
    RawClient& operator=(RawClient const&) = delete;

    bool connected() const { return connected_; }
    void Send(std::vector<std::uint8_t> const& bytes) {
        ASSERT_EQ(::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL),
                  static_cast<ssize_t>(bytes.size()));
    }
    // Exactly `count` bytes, or fewer when the server closed or the timeout passed.
    std::vector<std::uint8_t> Receive(std::size_t count) {
        std::vector<std::uint8_t> bytes(count);
        std::size_t got = 0;
        while (got < count) {
            ssize_t const n = ::recv(fd_, bytes.data() + got, count - got, 0);
            if (n <= 0) {
                break;
            }
            got += static_cast<std::size_t>(n);
        }
        bytes.resize(got);
        return bytes;
    }
    // True when the server closed the connection before the timeout: an end of stream, or a
    // reset when the server closed with bytes of ours still unread.
    bool ClosedByPeer() {
        std::uint8_t byte = 0;
        ssize_t const n = ::recv(fd_, &byte, 1, 0);
        return n == 0 || (n < 0 && errno == ECONNRESET);
    }

  private:
    int fd_;
    bool connected_ = false;
};

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
    intruder.Send(LoginWith("NOTTHEWORD"));
    intruder.Send(kServerQuery);
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
    member.Send(LoginWith("FENWARDIX"));
    member.Send(kServerQuery);
    std::vector<std::uint8_t> const announcement = member.Receive(28);
    ASSERT_EQ(announcement.size(), 28u);
    EXPECT_EQ(announcement[1], 28);
    EXPECT_EQ(announcement[11], 3);
    EXPECT_EQ(announcement[27], 4);
    EXPECT_TRUE(std::equal(welcome.begin() + 3, welcome.begin() + 7, announcement.begin() + 3));
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

    RawClient client(LoopbackAddress(TestAddress::SlowReader), 4096);
    ASSERT_TRUE(client.connected());
    ASSERT_EQ(client.Receive(151).size(), 151u);
    Bytes requests =
        Joined({LoginWith("FENWARDIX"), kServerQuery, ListRequest(0, 0, "quillmesh.ini")});
    for (std::uint32_t index = 0; index < kChunks; ++index) {
        Append(requests, ChunkRequest(0, 0, index, "big.bin"));
    }
    client.Send(requests);
    ASSERT_EQ(client.Receive(28 + 148).size(), 28u + 148u);

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
