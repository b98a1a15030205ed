// TLS in the socket layer, both ends real: a server layer with a fresh key and a client layer that
// pins keys, on one poll loop over loopback. And the pins as upd.ini writes them.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <numeric>
#include <string>
#include <vector>

#include "net/key_pin.h"
#include "net/poll_event_loop.h"
#include "net/portwell.h"
#include "net/socket_helpers.h"
#include "support/addresses.h"
#include "support/temp_dir.h"
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
    std::vector<int> accepted;
    int handshakesFailed = 0;
    std::string heard;
    std::vector<std::size_t> serverReads;  // the size of each read event's bytes

    void SetUp() override {
        server.SocketStartup();
        client.SocketStartup();
        server.table().onAccept = [this](int socket, int) {
            accepted.push_back(socket);
            server.AsyncReceive(socket);
        };
        server.table().onRead = [this](int socket, std::span<const std::uint8_t> bytes) {
            serverReads.push_back(bytes.size());
            server.SendAll(socket, bytes);
        };
        server.table().onHandshakeFailed = [this](int) { ++handshakesFailed; };
        client.table().onConnect = [this](int, int error) { connectErrors.push_back(error); };
        client.table().onRead = [this](int, std::span<const std::uint8_t> bytes) {
            heard.append(bytes.begin(), bytes.end());
        };
    }
    void TearDown() override {
        for (int socket : accepted) {
            server.CloseSocket(socket);
        }
    }

    bool RunUntil(std::function<bool()> const& done) {
        return net::testing::RunUntil(loop, done, 20s);
    }

    // Serves on `address` with `key` (plain TCP without one) and connects with `pins`: the
    // listening and the connected socket, and the connect's error.
    struct Opened {
        int listening = -1;
        int socket = -1;
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
        EXPECT_NE(opened.listening, -1);
        client.UseTls(MakePinnedClientFactory(pins));
        opened.socket = client.AsyncConnect(address, test::kPort);
        EXPECT_NE(opened.socket, -1);
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

}  // namespace
}  // namespace qm::tls
