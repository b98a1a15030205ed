// TLS in the socket layer, both ends real: a server layer with a fresh key and a client layer that
// pins keys, on one poll loop over loopback. And the pins as upd.ini writes them.
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <numeric>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "base/unix/unique_fd.h"
#include "net/key_pin.h"
#include "net/portwell.h"
#include "net/socket_helpers.h"
#include "net/unix/poll_event_loop.h"
#include "support/addresses.h"
#include "support/local_sockets.h"
#include "support/temp_dir.h"
#include "support/tls_peer.h"
#include "tls/openssl_tls.h"

namespace qm::tls {
namespace {

using namespace std::chrono_literals;
using test::LoopbackAddress;
using test::TestAddress;

std::string const kPinA = "sha256//47DEQpj8HBSa+/TImW+5JCeuQeRkm5NMpJWZG3hSuFU=";
std::string const kPinB = "sha256//AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA=";

TEST(KeyPins, ParsedOnlyWhenEveryPartIsAPin) {
    struct Case {
        std::string text;
        std::size_t pins;  // 0: refused
    };
    Case const cases[] = {
        {kPinA, 1},
        {kPinA + ";" + kPinB, 2},
        {"  " + kPinA + " ;\t" + kPinB + " ", 2},
        {"", 0},
        {kPinA + ";", 0},
        {";" + kPinA, 0},
        {kPinA + ";;" + kPinB, 0},
        {"sha1//47DEQpj8HBSa+/TImW+5JCeuQeRkm5NMpJWZG3hSuFU=", 0},
        {"SHA256//47DEQpj8HBSa+/TImW+5JCeuQeRkm5NMpJWZG3hSuFU=", 0},
        {kPinA.substr(0, kPinA.size() - 1), 0},  // 43 characters
        {kPinA + "A", 0},                        // 45 characters
        {"sha256//47DEQpj8HBSa+/TImW+5JCeuQeRkm5NMpJWZG3hSuF!=", 0},
        {"sha256//" + std::string(44, '='), 0},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.text);
        auto const pins = net::ParseKeyPins(c.text);
        if (c.pins == 0) {
            EXPECT_FALSE(pins.has_value());
            continue;
        }
        ASSERT_TRUE(pins.has_value());
        ASSERT_EQ(pins->size(), c.pins);
        EXPECT_EQ(net::FormatKeyPin(pins->front()), kPinA);
    }
}

// A server with a key of its own in a temporary directory.
struct ServerKey {
    test::TempDir dir;
    net::KeyPin pin{};

    ServerKey() {
        std::string problem;
        EXPECT_TRUE(MakeKeyAndCertificate(key(), certificate(), problem)) << problem;
        auto const read = PinOfCertificate(certificate(), problem);
        EXPECT_TRUE(read.has_value()) << problem;
        pin = read.value_or(net::KeyPin{});
    }
    std::filesystem::path key() const { return dir.path() / "server.key"; }
    std::filesystem::path certificate() const { return dir.path() / "server.crt"; }
};

// Two socket layers on one loop: a server that echoes what it reads, and a client.
class SecureSockets : public ::testing::Test {
  protected:
    net::PollEventLoop loop;
    net::SocketLayer server{loop};
    net::SocketLayer client{loop};
    std::vector<int> connectErrors;
    std::vector<net::SocketHandle> accepted;
    int handshakesFailed = 0;
    std::string heard;
    std::vector<std::size_t> serverReads;  // the size of each read event's bytes

    void SetUp() override {
        server.SocketStartup();
        client.SocketStartup();
        server.table().onAccept = [this](net::SocketHandle socket, net::SocketHandle) {
            accepted.push_back(socket);
            server.AsyncReceive(socket);
        };
        server.table().onRead = [this](net::SocketHandle socket,
                                       std::span<const std::uint8_t> bytes) {
            serverReads.push_back(bytes.size());
            server.SendAll(socket, bytes);
        };
        server.table().onHandshakeFailed = [this](net::SocketHandle) { ++handshakesFailed; };
        client.table().onConnect = [this](net::SocketHandle, int error) {
            connectErrors.push_back(error);
        };
        client.table().onRead = [this](net::SocketHandle, std::span<const std::uint8_t> bytes) {
            heard.append(bytes.begin(), bytes.end());
        };
    }
    void TearDown() override {
        for (net::SocketHandle const socket : accepted) {
            server.CloseSocket(socket);
        }
    }

    bool RunUntil(std::function<bool()> const& done) {
        return net::testing::RunUntil(loop, done, 20s);
    }

    // Serves on `address` with `key` (plain TCP without one) and connects with `pins`: the
    // listening and the connected socket, and the connect's error.
    struct Opened {
        net::SocketHandle listening;
        net::SocketHandle socket;
        int error = -1;
    };
    Opened Open(std::string const& address, ServerKey const* key,
                std::vector<net::KeyPin> const& pins) {
        if (key != nullptr) {
            std::string problem;
            auto factory = MakeServerFactory(key->key(), key->certificate(), problem);
            EXPECT_NE(factory, nullptr) << problem;
            server.UseTls(factory);
        }
        Opened opened;
        opened.listening = server.AsyncListen(address, test::kPort);
        EXPECT_TRUE(opened.listening.valid());
        client.UseTls(MakePinnedClientFactory(pins));
        opened.socket = client.AsyncConnect(address, test::kPort);
        EXPECT_TRUE(opened.socket.valid());
        EXPECT_TRUE(RunUntil([&] { return !connectErrors.empty(); }));
        opened.error = connectErrors.empty() ? -1 : connectErrors.front();
        return opened;
    }

    // Open, and on success checks that bytes cross both ways decrypted; returns the connect's
    // error. The bytes make several records that arrive together: what the channel has read
    // ahead must be read without waiting for the socket.
    int Connect(std::string const& address, ServerKey const* key,
                std::vector<net::KeyPin> const& pins) {
        Opened const opened = Open(address, key, pins);
        if (opened.error == 0) {
            EXPECT_EQ(client.AsyncReceive(opened.socket), 0);
            std::string const hello(100000, 'q');
            EXPECT_EQ(client.SendAll(opened.socket, AsBytes(hello)), 0);
            EXPECT_TRUE(RunUntil([&] { return heard.size() >= hello.size(); }));
            EXPECT_EQ(heard, hello);
        }
        client.CloseSocket(opened.socket);
        server.CloseSocket(opened.listening);
        return opened.error;
    }

    static std::span<const std::uint8_t> AsBytes(std::string const& text) {
        return {reinterpret_cast<std::uint8_t const*>(text.data()), text.size()};
    }
};

TEST_F(SecureSockets, AServerWhoseKeyIsTheOnlyPinIsAccepted) {
    ServerKey const key;
    EXPECT_EQ(Connect(LoopbackAddress(TestAddress::TlsRightPinLayer), &key, {key.pin}), 0);
    EXPECT_EQ(handshakesFailed, 0);
}

TEST_F(SecureSockets, AServerWhoseKeyIsTheSecondOfTwoPinsIsAccepted) {
    ServerKey const key;
    net::KeyPin const other = net::ParseKeyPins(kPinB)->front();
    EXPECT_EQ(Connect(LoopbackAddress(TestAddress::TlsSecondPinLayer), &key, {other, key.pin}), 0);
}

TEST_F(SecureSockets, AServerWithAnotherKeyIsNotVerified) {
    ServerKey const key;
    ServerKey const other;
    EXPECT_EQ(Connect(LoopbackAddress(TestAddress::TlsOtherKeyLayer), &key, {other.pin}),
              net::kServerNotVerified);
    EXPECT_TRUE(RunUntil([&] { return handshakesFailed == 1; })) << "the server notes the refusal";
    EXPECT_TRUE(accepted.empty()) << "a failed handshake never reaches the owner";
}

TEST_F(SecureSockets, APlainServerIsNotVerified) {
    ServerKey const key;
    EXPECT_EQ(Connect(LoopbackAddress(TestAddress::TlsPlainServerLayer), nullptr, {key.pin}),
              net::kServerNotVerified);
}

// Each small send is a record of its own. Records that arrive together reach the owner many to a
// read event, up to the read buffer, as one recv of a plain connection takes many frames; one
// record per event would have the server answer each request on its own.
TEST_F(SecureSockets, SmallRecordsThatArriveTogetherAreReadManyToAnEventUpToTheReadBuffer) {
    ServerKey const key;
    Opened const opened = Open(LoopbackAddress(TestAddress::TlsSmallRecordsLayer), &key, {key.pin});
    ASSERT_EQ(opened.error, 0);
    ASSERT_EQ(client.AsyncReceive(opened.socket), 0);
    ASSERT_TRUE(RunUntil([&] { return !accepted.empty(); }));
    std::string const record = "request!";
    std::size_t const records = 300;  // 2400 bytes: more than one read buffer
    for (std::size_t i = 0; i < records; ++i) {
        ASSERT_EQ(client.SendAll(opened.socket, AsBytes(record)), 0);
    }
    EXPECT_TRUE(RunUntil([&] { return heard.size() >= records * record.size(); }));
    // One event per record would make 300; the channel's own read-ahead may split them once.
    ASSERT_FALSE(serverReads.empty());
    EXPECT_LE(serverReads.size(), 4u);
    EXPECT_LE(*std::max_element(serverReads.begin(), serverReads.end()), net::kReadBufferSize);
    EXPECT_EQ(std::reduce(serverReads.begin(), serverReads.end()), records * record.size());
    EXPECT_EQ(heard.size(), records * record.size());
    client.CloseSocket(opened.socket);
    server.CloseSocket(opened.listening);
}

// A peer of another TLS implementation on a thread of its own, on a blocking socket.
class PeerThread {
  public:
    explicit PeerThread(std::function<void()> play) : thread_(std::move(play)) {}
    ~PeerThread() { thread_.join(); }
    PeerThread(PeerThread const&) = delete;
    PeerThread& operator=(PeerThread const&) = delete;

  private:
    std::thread thread_;
};

// Waits, a bounded time, until the other end closes the blocking socket `fd`.
void WaitForClose(int fd) {
    timeval const limit{20, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    std::uint8_t byte = 0;
    while (::recv(fd, &byte, 1, 0) > 0) {
    }
}

std::string const kFirstBytes = "the server speaks first";

// A TLS 1.2 server that writes the last flight of its handshake and its first bytes in one send
// (as a front end before a plain update server does with the WELCOME): the channel reads those
// bytes during the handshake, and the socket will not report them again. They must reach the
// client all the same, without anything more arriving.
TEST_F(SecureSockets, BytesThatCameWithTheServersLastFlightReachTheClient) {
    ServerKey const key;
    std::string const address = LoopbackAddress(TestAddress::TlsReadAheadToClientLayer);
    base::UniqueFd const listening(test::ListenOn(address, 4));
    ASSERT_TRUE(listening.valid());
    PeerThread const peer([&] {
        base::UniqueFd const socket(::accept4(listening.get(), nullptr, nullptr, SOCK_CLOEXEC));
        test::TlsPeer tls(socket.get(), {.server = true,
                                         .version = "TLS1.2",
                                         .key = key.key(),
                                         .certificate = key.certificate()});
        if (tls.Handshake() && tls.Send(AsBytes(kFirstBytes)) && tls.Flush()) {
            WaitForClose(socket.get());
        }
    });
    client.UseTls(MakePinnedClientFactory(std::vector<net::KeyPin>{key.pin}));
    net::SocketHandle const socket = client.AsyncConnect(address, test::kPort);
    ASSERT_TRUE(socket.valid());
    ASSERT_TRUE(RunUntil([&] { return !connectErrors.empty(); }));
    ASSERT_EQ(connectErrors.front(), 0);
    ASSERT_EQ(client.AsyncReceive(socket), 0);
    EXPECT_TRUE(RunUntil([&] { return heard == kFirstBytes; })) << "heard: " << heard;
    client.CloseSocket(socket);
}

// The same on the server's side: a TLS 1.3 client whose Finished and first bytes (a login) arrive
// in one segment.
TEST_F(SecureSockets, BytesThatCameWithTheClientsLastFlightReachTheServer) {
    ServerKey const key;
    std::string const address = LoopbackAddress(TestAddress::TlsReadAheadToServerLayer);
    std::string problem;
    server.UseTls(MakeServerFactory(key.key(), key.certificate(), problem));
    net::SocketHandle const listening = server.AsyncListen(address, test::kPort);
    ASSERT_TRUE(listening.valid()) << problem;
    PeerThread const peer([&] {
        base::UniqueFd const socket(test::ConnectTo(address));
        test::TlsPeer tls(socket.get(), {.server = false, .version = "TLS1.3"});
        if (tls.Handshake() && tls.Send(AsBytes(kFirstBytes)) && tls.Flush()) {
            WaitForClose(socket.get());
        }
    });
    EXPECT_TRUE(RunUntil([&] { return !serverReads.empty(); }))
        << "the server never heard the bytes that came with the client's Finished";
    EXPECT_EQ(std::reduce(serverReads.begin(), serverReads.end()), kFirstBytes.size());
    for (net::SocketHandle const socket : std::exchange(accepted, {})) {
        server.CloseSocket(socket);
    }
    server.CloseSocket(listening);
}

}  // namespace
}  // namespace qm::tls
