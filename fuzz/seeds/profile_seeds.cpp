// Seeds of the profile harness: the two profile files as the updater finds and writes them, and
// the corners of the format (comments, quotes, letter case, line ends, long values).
//
// Layout: flags (which file, whether it exists), section and key after a length byte each, the
// value after a 16-bit length, then the file's content.
#include <string>

#include "seeds/seed_writer.h"

namespace qm::fuzz::seeds {
namespace {

Bytes ProfileSeed(std::uint8_t flags, std::string_view section, std::string_view key,
                  std::string_view value, std::string_view content) {
    auto const byte = [](std::size_t number) { return static_cast<std::uint8_t>(number & 0xFF); };
    return Joined({{flags, byte(section.size())},
                   ToBytes(section),
                   {byte(key.size())},
                   ToBytes(key),
                   {byte(value.size() >> 8), byte(value.size())},
                   ToBytes(value),
                   ToBytes(content)});
}

constexpr std::uint8_t kCrcIni = 0;
constexpr std::uint8_t kUpdIni = 1;
constexpr std::uint8_t kMissing = 4;

}  // namespace

void WriteProfileSeeds(SeedWriter& writer) {
    writer.Write("crc-new-key", ProfileSeed(kCrcIni, "GLOBAL_CRC", "data.ini", "3421780262",
                                            "[GLOBAL_CRC]\nquillmesh.ini=12345\n"));
    writer.Write("crc-replace", ProfileSeed(kCrcIni, "GLOBAL_CRC", "quillmesh.ini", "4294967295",
                                            "[GLOBAL_CRC]\nquillmesh.ini=12345\ngfx.ini=7\n"));
    writer.Write("crc-missing-file",
                 ProfileSeed(kCrcIni | kMissing, "GLOBAL_CRC", "quillmesh.ini", "0", ""));
    writer.Write("upd-crlf", ProfileSeed(kUpdIni, "GENERAL", "SERVER", "127.0.3.1",
                                         "[GENERAL]\r\nSERVER=10.0.0.1\r\nEXE=./quillmesh\r\n"));
    writer.Write("letter-case", ProfileSeed(kUpdIni, "general", "server", "host.example",
                                            "[General]\nServer = old.example\n"));
    writer.Write("blanks-quotes-comments",
                 ProfileSeed(kUpdIni, "GENERAL", "EXE", "./quillmesh --safe",
                             "; configuration\n[GENERAL]\n  SERVER = \"quoted\"  \n"
                             ";EXE=commented\nEXE='single'\n[OTHER]\nEXE=other\n"));
    writer.Write("no-final-newline",
                 ProfileSeed(kCrcIni, "NEW", "key", "value", "[GLOBAL_CRC]\nquillmesh.ini=1"));
    writer.Write("section-last", ProfileSeed(kCrcIni, "GLOBAL_CRC", "k", "v", "[GLOBAL_CRC]"));
    writer.Write("duplicates",
                 ProfileSeed(kCrcIni, "S", "a", "3", "[S]\na=1\na=2\n[s]\nb=4\n[S]\nc=5\n"));
    writer.Write("long-value",
                 ProfileSeed(kCrcIni, "GLOBAL_CRC", "long", std::string(300, 'x'), ""));
    writer.Write("entries-before-section",
                 ProfileSeed(kCrcIni, "GLOBAL_CRC", "k", "v", "loose=1\n\n[GLOBAL_CRC]\nk\n"));
    writer.Write("hidden-name",
                 ProfileSeed(3, "GLOBAL_CRC", "quillmesh.ini", "99", "[GLOBAL_CRC]\n"));
    writer.Write("sub-directory", ProfileSeed(2, "A", "b", "c", "[A]\nb=old\n"));
}

}  // namespace qm::fuzz::seeds
