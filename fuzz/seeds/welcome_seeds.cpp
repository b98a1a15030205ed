// Seeds of the welcome harness: the server's WELCOME and what follows it, whole, split, cut
// short, too long, of the wrong type, and streams whose length fields break.
//
// Layout: flags, four read-size bytes, the host name after a length byte (counted in pairs), a
// 16-bit send body length and a send type, then the received stream.
#include "seeds/seed_writer.h"
#include "support/wire_format.h"

namespace qm::fuzz::seeds {
namespace {

constexpr std::uint8_t kNoSocket = 0x01;
constexpr std::uint8_t kPeerHangsUp = 0x02;
constexpr std::uint8_t kWholeReads = 0x9F;  // 2048 bytes per read

Bytes WelcomeSeed(std::uint8_t flags, std::uint8_t readSize, std::string_view host,
                  std::uint16_t sendLength, Bytes const& stream) {
    std::size_t const pairs = host.size() / 2;
    std::uint16_t const coded = static_cast<std::uint16_t>(sendLength + 1);
    return Joined(
        {{flags, readSize, readSize, readSize, readSize, static_cast<std::uint8_t>(pairs)},
         ToBytes(host.substr(0, pairs * 2)),
         {static_cast<std::uint8_t>(coded >> 8), static_cast<std::uint8_t>(coded & 0xFF),
          wire::kUpdateFrame},
         stream});
}

}  // namespace

void WriteWelcomeSeeds(SeedWriter& writer) {
    Bytes const welcome = wire::Welcome(0x0000002Au, 0x01020300u);
    Bytes const announcement = wire::ServerAnnouncement(0x00000100u, 4);
    Bytes const shortWelcome = wire::Resized(welcome, 150);
    Bytes const longWelcome = wire::Resized(welcome, 152);
    Bytes wrongType = welcome;
    wrongType[2] = 4;
    std::string const host = "127.0.3.1.";

    writer.Write("welcome", WelcomeSeed(0, kWholeReads, host, 76, welcome));
    writer.Write("welcome-then-frames",
                 WelcomeSeed(0, kWholeReads, host, 16, wire::Joined({welcome, announcement})));
    writer.Write("welcome-byte-by-byte", WelcomeSeed(0, 0, host, 0, welcome));
    writer.Write("welcome-split-in-length", WelcomeSeed(0, 0x00, host, 2048, welcome));
    writer.Write("welcome-150", WelcomeSeed(0, kWholeReads, host, 76, shortWelcome));
    writer.Write("welcome-152", WelcomeSeed(0, kWholeReads, host, 76, longWelcome));
    writer.Write("welcome-type-4", WelcomeSeed(0, kWholeReads, host, 76, wrongType));
    writer.Write("long-host", WelcomeSeed(0, kWholeReads, std::string(300, 'h'), 76, welcome));
    writer.Write("no-socket", WelcomeSeed(kNoSocket, kWholeReads, host, 76, welcome));
    writer.Write("server-hung-up", WelcomeSeed(kPeerHangsUp, kWholeReads, host, 76, welcome));
    writer.Write("send-too-long", WelcomeSeed(0, kWholeReads, host, 2049, welcome));
    writer.Write("length-0", WelcomeSeed(0, kWholeReads, host, 76, Bytes{0, 0, 0, 1, 2}));
    writer.Write("length-2", WelcomeSeed(0, kWholeReads, host, 76, Bytes{0, 2, 0, 1, 2}));
    writer.Write("length-2052",
                 WelcomeSeed(0, kWholeReads, host, 76, wire::Joined({welcome, Bytes{8, 4, 4}})));
    writer.Write("length-3", WelcomeSeed(0, kWholeReads, host, 76,
                                         wire::Joined({welcome, wire::Frame(4, {})})));
}

}  // namespace qm::fuzz::seeds
