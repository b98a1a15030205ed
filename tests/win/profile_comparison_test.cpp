// The project's profile reader and writer next to the system's GetPrivateProfileStringA and
// WritePrivateProfileStringA, on a corpus of awkward files. Under wine the system's calls are
// wine's own implementation: where it departs from what Windows documents, the case says so and
// holds the project's reader to the documented behaviour.
#include <gtest/gtest.h>
#include <windows.h>

#include <array>
#include <optional>
#include <string>

#include "store/profile_file.h"
#include "win/scratch.h"

namespace qm::store {
namespace {

constexpr char kFile[] = "./profile.ini";

// What GetPrivateProfileStringA gives, with the empty default and the 255-byte buffer that the
// program's earlier ANSI calls used; nothing for an empty answer.
std::optional<std::string> SystemRead(char const* section, char const* key) {
    std::array<char, 255> value{};
    std::string const path = (std::filesystem::current_path() / "profile.ini").string();
    DWORD const length = ::GetPrivateProfileStringA(section, key, "", value.data(),
                                                    static_cast<DWORD>(value.size()), path.c_str());
    if (length == 0) {
        return std::nullopt;
    }
    return std::string(value.data(), length);
}

struct ReadCase {
    char const* name;
    std::string text;
    char const* section;
    char const* key;
    std::optional<std::string> expected;  // as Windows documents it; what our reader gives
    // Where wine's GetPrivateProfileStringA gives something else: what it gives.
    std::optional<std::optional<std::string>> wineGives = std::nullopt;
};

std::string const kLong(300, 'v');

TEST(ProfileComparison, ReadsAsTheSystemReads) {
    test::win::Scratch const scratch;
    ReadCase const cases[] = {
        {"CRLF", "[GENERAL]\r\nSERVER=a.example\r\n", "GENERAL", "SERVER", "a.example"},
        {"LF", "[GENERAL]\nSERVER=a.example\n", "GENERAL", "SERVER", "a.example"},
        {"no final line break", "[GENERAL]\nSERVER=a.example", "GENERAL", "SERVER", "a.example"},
        {"blanks around key and value", "[GENERAL]\n  SERVER  =  a b  \n", "GENERAL", "SERVER",
         "a b"},
        {"tabs around key and value", "[GENERAL]\n\tSERVER\t=\ta\t\n", "GENERAL", "SERVER", "a"},
        {"section and key in another case", "[general]\nserver=a\n", "GENERAL", "SERVER", "a"},
        {"comment line", "[GENERAL]\n;SERVER=x\nSERVER=y\n", "GENERAL", "SERVER", "y"},
        {"commented key only", "[GENERAL]\n;SERVER=x\n", "GENERAL", "SERVER", std::nullopt},
        {"first of two keys", "[GENERAL]\nSERVER=first\nSERVER=second\n", "GENERAL", "SERVER",
         "first"},
        {"first of two sections", "[GENERAL]\nSERVER=first\n[GENERAL]\nSERVER=second\n", "GENERAL",
         "SERVER", "first"},
        {"key only in the second of two sections", "[GENERAL]\nEXE=x\n[GENERAL]\nSERVER=second\n",
         "GENERAL", "SERVER", std::nullopt},
        {"empty value", "[GENERAL]\nSERVER=\n", "GENERAL", "SERVER", std::nullopt},
        {"missing key", "[GENERAL]\nEXE=x\n", "GENERAL", "SERVER", std::nullopt},
        {"missing section", "[OTHER]\nSERVER=x\n", "GENERAL", "SERVER", std::nullopt},
        {"value in double quotes", "[GENERAL]\nSERVER=\"a b\"\n", "GENERAL", "SERVER", "a b"},
        {"value in single quotes", "[GENERAL]\nSERVER='a b'\n", "GENERAL", "SERVER", "a b"},
        {"equals sign in the value", "[GENERAL]\nEXE=run --x=1\n", "GENERAL", "EXE", "run --x=1"},
        {"long value cut to 254", "[GENERAL]\nSERVER=" + kLong + "\n", "GENERAL", "SERVER",
         kLong.substr(0, 254)},
        {"entries before any section", "SERVER=x\n[GENERAL]\nEXE=y\n", "GENERAL", "SERVER",
         std::nullopt},
        {"blank lines and CRLF mixed", "\r\n\n[GENERAL]\r\n\nSERVER=a\n\r\nEXE=b\r\n", "GENERAL",
         "EXE", "b"},
        {"blanks in the section line", "[ GENERAL ]\nSERVER=a\n", "GENERAL", "SERVER", "a"},
        {"key without equals sign", "[GENERAL]\nSERVER\n", "GENERAL", "SERVER", std::nullopt},
        {"checksum record", "[GLOBAL_CRC]\r\nquillmesh.ini=3421780262\r\n", "GLOBAL_CRC",
         "quillmesh.ini", "3421780262"},
    };
    for (ReadCase const& c : cases) {
        SCOPED_TRACE(c.name);
        test::win::WriteText("profile.ini", c.text);
        EXPECT_EQ(ReadProfileValue(kFile, c.section, c.key), c.expected);
        std::optional<std::string> const system = SystemRead(c.section, c.key);
        EXPECT_EQ(system, c.wineGives.value_or(c.expected));
    }
}

struct WriteCase {
    char const* name;
    std::string text;  // before the write
    char const* section;
    char const* key;
    char const* value;
};

// Each side writes into a copy of the same file; then each side reads what the other wrote,
// every key of the section, and the file's other entries are still there for both.
TEST(ProfileComparison, EachReadsWhatTheOtherWrote) {
    test::win::Scratch const scratch;
    WriteCase const cases[] = {
        {"new file", "", "GLOBAL_CRC", "quillmesh.ini", "3421780262"},
        {"new key in a CRLF file", "[GLOBAL_CRC]\r\ndata.ini=1\r\n", "GLOBAL_CRC", "quillmesh.ini",
         "2"},
        {"replaced value, other case", "[global_crc]\nQUILLMESH.INI=1\nx=2\n", "GLOBAL_CRC",
         "quillmesh.ini", "3"},
        {"new section after one without a final line break", "[GENERAL]\nSERVER=a", "GLOBAL_CRC",
         "quillmesh.ini", "4"},
        {"duplicate section", "[GLOBAL_CRC]\na=1\n[GLOBAL_CRC]\nb=2\n", "GLOBAL_CRC", "b", "5"},
    };
    std::string const path = (std::filesystem::current_path() / "profile.ini").string();
    for (WriteCase const& c : cases) {
        SCOPED_TRACE(c.name);
        test::win::WriteText("profile.ini", c.text);
        ASSERT_TRUE(::WritePrivateProfileStringA(c.section, c.key, c.value, path.c_str()));
        ::WritePrivateProfileStringA(nullptr, nullptr, nullptr, path.c_str());  // flush
        EXPECT_EQ(ReadProfileValue(kFile, c.section, c.key), std::optional<std::string>(c.value));
        std::string const systemWrote = test::win::ReadText("profile.ini");

        test::win::WriteText("profile.ini", c.text);
        ASSERT_TRUE(WriteProfileValue(kFile, c.section, c.key, c.value));
        EXPECT_EQ(SystemRead(c.section, c.key), std::optional<std::string>(c.value));
        for (auto const& [key, value] : ReadProfileSection(kFile, c.section)) {
            EXPECT_EQ(SystemRead(c.section, key.c_str()), std::optional<std::string>(value)) << key;
        }
        test::win::WriteText("profile.ini", systemWrote);
        for (auto const& [key, value] : ReadProfileSection(kFile, c.section)) {
            EXPECT_EQ(SystemRead(c.section, key.c_str()), std::optional<std::string>(value)) << key;
        }
    }
}

}  // namespace
}  // namespace qm::store
