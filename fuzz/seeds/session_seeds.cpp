// Seeds of the session harness: conversations that a server holds with the updater, from the
// WELCOME to the completion summary, and variations that a hostile or broken server would send.
// The client directory they talk about is the session harness's fixture.
//
// Layout: flags, four read-size bytes, then the server's bytes.
#include <string>

#include "seeds/seed_writer.h"
#include "support/wire_format.h"

namespace qm::fuzz::seeds {
namespace {

constexpr std::uint8_t kAwaitWelcome = 0x01;
constexpr std::uint8_t kServerHungUp = 0x02;
constexpr std::uint8_t kNobodyReads = 0x04;
constexpr std::uint8_t kNoWindow = 0x08;

constexpr std::uint32_t kServer = 0x00000100u;
constexpr std::uint8_t kWholeReads = 0x9F;  // 2048 bytes per read, as the socket layer reads

struct ReadSizes {
    std::uint8_t a, b, c, d;
};
constexpr ReadSizes kWhole{kWholeReads, kWholeReads, kWholeReads, kWholeReads};
constexpr ReadSizes kSingleBytes{0, 0, 0, 0};
constexpr ReadSizes kRagged{6, 0x80, 0, 0xA0};

Bytes Seed(std::uint8_t flags, ReadSizes sizes, Bytes const& stream) {
    return Joined({{flags, sizes.a, sizes.b, sizes.c, sizes.d}, stream});
}

Bytes Content(std::size_t size, std::uint8_t salt) {
    Bytes content(size);
    for (std::size_t i = 0; i < size; ++i) {
        content[i] = static_cast<std::uint8_t>(i * 31 + salt);
    }
    return content;
}

// FileDescription with action 1, FileSize, the chunks of `content` and the empty chunk.
Bytes Download(std::string_view path, Bytes const& content, std::uint32_t token,
               std::uint32_t announcedCrc) {
    Bytes stream = wire::FileDescription(kServer, 1, token, path, path, announcedCrc);
    wire::Append(stream, wire::FileSize(path, static_cast<std::uint32_t>(content.size())));
    std::uint32_t index = 0;
    for (; index * wire::kChunkData < content.size(); ++index) {
        wire::Append(stream, wire::DataChunk(kServer, index, test::ChunkOf(content, index)));
    }
    wire::Append(stream, wire::DataChunk(kServer, index, {}));
    return stream;
}

Bytes GoodDownload(std::string_view path, Bytes const& content, std::uint32_t token) {
    return Download(path, content, token, wire::Crc32(content));
}

Bytes Opening() {
    Bytes stream = wire::ServerAnnouncement(kServer, 4);
    wire::Append(stream, wire::FileDescription(kServer, 0, 1, "", "quillmesh.ini", 0));
    return stream;
}

Bytes FullRun() {
    Bytes const unchanged = ToBytes("old town map\n");
    Bytes stream = Opening();
    wire::Append(stream, GoodDownload("readme.txt", Content(5000, 1), 2));
    wire::Append(stream, wire::FileDescription(kServer, 1, 3, "data/maps/town.map",
                                               "data/maps/town.map", wire::Crc32(unchanged)));
    wire::Append(stream, GoodDownload("gfx\\icons\\app.png", Content(2027, 2), 4));
    wire::Append(stream, wire::FileDescription(kServer, 4, 5, "data/maps/town.map", "", 0));
    wire::Append(stream, wire::FileDescription(kServer, 2, 6, "data.ini", "", 0xCBF43926u));
    wire::Append(stream, wire::ListSummary(3421780262u, "data.ini", "gfx.ini", 0));
    wire::Append(stream, wire::FileDescription(kServer, 3, 7, "", "", 42));
    wire::Append(stream, wire::ListSummary(1, "gfx.ini", "", 0));
    wire::Append(stream, wire::ListSummary(0, "", "", 1));
    return stream;
}

Bytes EscapeAttempts() {
    Bytes stream = Opening();
    Bytes const evil = ToBytes("evil\n");
    for (char const* path : {"out/evil.txt", "../sentinel/evil.txt", "/tmp/evil.txt",
                             "up/sentinel/secret.txt", "out-absolute/inner/x", "escape.txt",
                             "self/readme.txt", "\\sentinel\\x", "C:\\evil.txt"}) {
        wire::Append(stream, GoodDownload(path, evil, 9));
    }
    for (char const* path : {"out/secret.txt", "up/client/readme.txt", "escape.txt", "self",
                             "data/empty/nothing", "../sentinel/secret.txt"}) {
        wire::Append(stream, wire::FileDescription(kServer, 4, 10, path, path, 0));
    }
    return stream;
}

Bytes HostileTransfers() {
    Bytes stream = Opening();
    Bytes const content = Content(3000, 3);
    // A checksum that does not match what arrives.
    wire::Append(stream, Download("readme.txt", content, 11, 0x12345678u));
    // More data than announced, and chunks out of order.
    wire::Append(stream, wire::FileDescription(kServer, 1, 12, "data/x.bin", "data/x.bin", 1));
    std::span<const std::uint8_t> const piece = std::span<const std::uint8_t>(content).first(100);
    wire::Append(stream, wire::FileSize("data/x.bin", 10));
    wire::Append(stream, wire::DataChunk(kServer, 1, piece));
    wire::Append(stream, wire::DataChunk(kServer, 0, piece));
    wire::Append(stream, wire::DataChunk(kServer, 1, piece));
    wire::Append(stream, wire::DataChunk(kServer, 2, {}));
    // Chunks with no download under way, and a data length past the frame.
    wire::Append(stream, wire::DataChunk(kServer, 0, piece));
    Bytes cut = wire::DataChunk(kServer, 0, std::span<const std::uint8_t>(content).first(100));
    cut[19] = 0x07;
    wire::Append(stream, cut);
    return stream;
}

Bytes HostileTexts() {
    Bytes stream = Opening();
    std::string const terminal =
        "\x1b[2J\x1b]0;owned\x07\xc2\x9b"
        "31m\xff\xfe";
    wire::Append(stream, wire::FileDescription(kServer, 1, 1, "readme.txt", terminal, 0));
    wire::Append(stream, wire::FileSize(std::string(600, 'n'), 5000));
    Bytes unterminated = wire::FileSize(terminal, 1);
    std::fill(unterminated.begin() + 15, unterminated.begin() + 615, 'z');
    wire::Append(stream, unterminated);
    std::string const full(64, 'L');
    wire::Append(stream, wire::FileDescription(kServer, 2, 2, full, full, 7));
    wire::Append(stream, wire::FileDescription(kServer, 3, 3, "", "", 8));
    wire::Append(stream, wire::ListSummary(7, full, full, 0));
    wire::Append(stream, wire::ListSummary(0, "[GLOBAL_CRC]", "a=b\r\nc", 0));
    wire::Append(stream, wire::FileDescription(kServer, 2, 4, "x=1\nquillmesh.ini", "", 9));
    wire::Append(stream, wire::FileDescription(kServer, 3, 5, "", "", 10));
    return stream;
}

Bytes ShortFrames() {
    Bytes stream = Opening();
    for (int type : {0, 4, 7}) {
        for (std::uint8_t kind = 0; kind < 9; ++kind) {
            Bytes frame = wire::FileDescription(kServer, 1, 1, "readme.txt", "", 0);
            frame.resize(3 + 12 + kind * 3u);
            frame[0] = 0;
            frame[1] = static_cast<std::uint8_t>(frame.size());
            frame[2] = static_cast<std::uint8_t>(type);
            frame[11] = kind;
            wire::Append(stream, frame);
        }
    }
    wire::Append(stream, wire::Frame(4, {}));
    return stream;
}

Bytes WithBrokenLength(std::uint8_t high, std::uint8_t low) {
    Bytes stream = Opening();
    wire::Append(stream, Bytes{high, low, 4, 1, 2, 3});
    wire::Append(stream, wire::ListSummary(0, "", "", 1));
    return stream;
}

// A walk by entries with a server that announced the fast path: a file that is current, one that
// differs (sent as a stream), an unsafe path, a deletion, the list's end; then a second list
// whose entries break the rules.
Bytes FastPathRun() {
    Bytes const unchanged = ToBytes("old town map\n");
    Bytes const content = Content(5000, 5);
    Bytes stream = wire::FastPathAnnouncement(kServer);
    wire::Append(stream, wire::ListSummary(1, "quillmesh.ini", "data.ini", 0));
    Bytes const entries = Joined({wire::Entry({.crc = wire::Crc32(unchanged),
                                               .size = 13,
                                               .localPath = "data/maps/town.map",
                                               .remoteName = "data/maps/town.map"}),
                                  wire::Entry({.crc = wire::Crc32(content),
                                               .size = 5000,
                                               .localPath = "readme.txt",
                                               .remoteName = "readme.txt"}),
                                  wire::Entry({.action = 4, .localPath = "data/maps/town.map"}),
                                  wire::Entry({.action = 2, .crc = 1, .localPath = "data.ini"})});
    wire::Append(stream, wire::ListEntries(0, 4, true, entries));
    wire::Append(stream, wire::FileSize("readme.txt", 5000));
    for (std::uint32_t index = 0; index <= 3; ++index) {
        wire::Append(stream, wire::DataChunk(kServer, index, test::ChunkOf(content, index)));
    }
    wire::Append(stream, wire::ListSummary(2, "data.ini", "", 0));
    Bytes const broken = Joined({wire::Entry({.localPath = "../escape.txt", .remoteName = "x"}),
                                 wire::Entry({.action = 0}), wire::Entry({.action = 3, .crc = 2})});
    wire::Append(stream, wire::ListEntries(0, 3, true, broken));
    wire::Append(stream, wire::ListSummary(0, "", "", 1));
    return stream;
}

Bytes WithWelcome(Bytes const& stream) {
    Bytes all = wire::Welcome(kServer, 0x0A000001u);
    wire::Append(all, stream);
    return all;
}

}  // namespace

void WriteSessionSeeds(SeedWriter& writer) {
    writer.Write("full-run", Seed(0, kWhole, FullRun()));
    writer.Write("full-run-from-welcome", Seed(kAwaitWelcome, kWhole, WithWelcome(FullRun())));
    writer.Write("full-run-ragged-reads", Seed(kAwaitWelcome, kRagged, WithWelcome(FullRun())));
    writer.Write("full-run-no-window",
                 Seed(kNoWindow | kAwaitWelcome, kWhole, WithWelcome(FullRun())));
    writer.Write("full-run-server-hung-up", Seed(kServerHungUp, kWhole, FullRun()));
    writer.Write("full-run-nobody-reads", Seed(kNobodyReads, kWhole, FullRun()));
    Bytes small = Opening();
    wire::Append(small, GoodDownload("data/new/tiles.dat", Content(100, 4), 1));
    writer.Write("byte-by-byte", Seed(kAwaitWelcome, kSingleBytes, WithWelcome(small)));
    writer.Write("escape-attempts", Seed(0, kWhole, EscapeAttempts()));
    writer.Write("hostile-transfers", Seed(0, kRagged, HostileTransfers()));
    writer.Write("hostile-texts", Seed(0, kWhole, HostileTexts()));
    writer.Write("short-frames", Seed(0, kWhole, ShortFrames()));
    writer.Write("length-0", Seed(0, kWhole, WithBrokenLength(0, 0)));
    writer.Write("length-1", Seed(0, kWhole, WithBrokenLength(0, 1)));
    writer.Write("length-2", Seed(0, kWhole, WithBrokenLength(0, 2)));
    writer.Write("length-2052", Seed(0, kWhole, WithBrokenLength(8, 4)));
    writer.Write("length-65535", Seed(0, kRagged, WithBrokenLength(0xFF, 0xFF)));
    Bytes badWelcome = wire::Welcome(kServer, 1);
    badWelcome.pop_back();
    badWelcome[1] = 150;
    wire::Append(badWelcome, FullRun());
    writer.Write("welcome-150", Seed(kAwaitWelcome, kWhole, badWelcome));
    writer.Write("welcome-split",
                 Seed(kAwaitWelcome, ReadSizes{100, 50, 0x9F, 0x9F}, WithWelcome(FullRun())));
    Bytes twice = Opening();
    wire::Append(twice, wire::ServerAnnouncement(0x200, 4));
    wire::Append(twice, wire::ServerAnnouncement(0x300, 5));
    wire::Append(twice, wire::ListSummary(0, "", "", 1));
    writer.Write("announcements", Seed(kAwaitWelcome, kWhole, WithWelcome(twice)));
    writer.Write("fast-path", Seed(0, kWhole, FastPathRun()));
    writer.Write("fast-path-ragged-reads",
                 Seed(kAwaitWelcome, kRagged, WithWelcome(FastPathRun())));
}

}  // namespace qm::fuzz::seeds
