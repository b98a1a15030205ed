#include "store/profile_file.h"

#include <gtest/gtest.h>

#include "support/posix_features.h"
#include "support/skip_without.h"
#include "support/temp_dir.h"
#include "support/temp_dir_test.h"

namespace qm::store {
namespace {

using ProfileFileTest = qm::test::TempDirTest;

constexpr char kConfig[] =
    "; quillmesh updater\n"
    "[General]\n"
    "  Server  =  update.example.net  \n"
    "EXE=\"quillmesh -fast\"\n"
    "single='one two'\n"
    "mixed=\"abc'\n"
    "lonequote=\"\n"
    "emptyquotes=\"\"\n"
    "empty=\n"
    "blank =   \n"
    ";commented=yes\n"
    "SERVER=second.example.net\n"
    "novalue\n"
    "\n"
    "[other]\n"
    "only=here\n"
    "[general]\n"
    "late=ignored\n";

struct ReadCase {
    std::string_view section;
    std::string_view key;
    std::optional<std::string> value;
};

TEST_F(ProfileFileTest, ReadsEntries) {
    ReadCase const cases[] = {
        {"GENERAL", "SERVER", "update.example.net"},  // trimmed, first one wins
        {"general", "server", "update.example.net"},
        {"GENERAL", "EXE", "quillmesh -fast"},
        {"GENERAL", "single", "one two"},
        {"GENERAL", "mixed", "\"abc'"},
        {"GENERAL", "lonequote", "\""},
        {"GENERAL", "emptyquotes", std::nullopt},
        {"GENERAL", "empty", std::nullopt},
        {"GENERAL", "blank", std::nullopt},
        {"GENERAL", "commented", std::nullopt},
        {"GENERAL", ";commented", std::nullopt},
        {"GENERAL", "novalue", std::nullopt},
        {"GENERAL", "only", std::nullopt},
        {"GENERAL", "late", std::nullopt},  // a repeated section is not looked at
        {"OTHER", "only", "here"},
        {"MISSING", "SERVER", std::nullopt},
    };
    for (auto const& ending : {"\n", "\r\n"}) {
        std::string text;
        for (char const c : std::string_view(kConfig)) {
            if (c == '\n') {
                text += ending;
            } else {
                text += c;
            }
        }
        WriteFile("upd.ini", text);
        for (ReadCase const& c : cases) {
            EXPECT_EQ(ReadProfileValue("./upd.ini", c.section, c.key), c.value)
                << c.section << "/" << c.key << " with line end size "
                << std::string_view(ending).size();
        }
    }
    EXPECT_EQ(ReadProfileValue("./missing.ini", "GENERAL", "SERVER"), std::nullopt);
}

TEST_F(ProfileFileTest, LongValueIsCut) {
    std::string const value(300, 'v');
    WriteFile("upd.ini", "[GENERAL]\nEXE=" + value + "\nQUOTED=\"" + value + "\"\n");
    EXPECT_EQ(ReadProfileValue("./upd.ini", "GENERAL", "EXE"), value.substr(0, 254));
    EXPECT_EQ(ReadProfileValue("./upd.ini", "GENERAL", "QUOTED"), value.substr(0, 254));
}

TEST_F(ProfileFileTest, WritingCreatesAMissingFile) {
    ASSERT_TRUE(WriteProfileValue("./crc.ini", "GLOBAL_CRC", "quillmesh.ini", "3421780262"));
    EXPECT_EQ(ReadFile("crc.ini"), "[GLOBAL_CRC]\nquillmesh.ini=3421780262\n");
    if (test::Has(test::PosixFeature::PermissionBits)) {
        EXPECT_EQ(Mode("crc.ini"), 0644u);
    }
    EXPECT_EQ(ParseUnsignedValue(ReadProfileValue("./crc.ini", "GLOBAL_CRC", "quillmesh.ini")),
              0xCBF43926ul);
}

TEST_F(ProfileFileTest, WritingReplacesTheValueInPlace) {
    WriteFile("crc.ini",
              "; checksums\r\n[global_crc]\r\n  Quillmesh.ini = 1 \r\nmaps.ini=2\r\n[X]\n"
              "quillmesh.ini=9");
    test::SetMode("crc.ini", 0600);
    ASSERT_TRUE(WriteProfileValue("./crc.ini", "GLOBAL_CRC", "quillmesh.ini", "77"));
    EXPECT_EQ(ReadFile("crc.ini"),
              "; checksums\r\n[global_crc]\r\nquillmesh.ini=77\r\nmaps.ini=2\r\n[X]\n"
              "quillmesh.ini=9");
    if (test::Has(test::PosixFeature::PermissionBits)) {
        EXPECT_EQ(Mode("crc.ini"), 0600u);  // kept by the replacement
    }
    EXPECT_EQ(Listing(), std::vector<std::string>{"crc.ini"});
}

TEST_F(ProfileFileTest, WritingAddsAMissingKeyAfterTheLastEntryOfItsSection) {
    WriteFile("crc.ini", "[A]\r\nk=1\r\n; about B\r\n\r\n[GLOBAL_CRC]\r\nfirst=1\r\n\r\n[C]\r\n");
    ASSERT_TRUE(WriteProfileValue("./crc.ini", "a", "new", "5"));
    ASSERT_TRUE(WriteProfileValue("./crc.ini", "GLOBAL_CRC", "second", "2"));
    ASSERT_TRUE(WriteProfileValue("./crc.ini", "C", "c", "3"));
    EXPECT_EQ(ReadFile("crc.ini"),
              "[A]\r\nk=1\r\nnew=5\r\n; about B\r\n\r\n[GLOBAL_CRC]\r\nfirst=1\r\nsecond=2\r\n\r\n"
              "[C]\r\nc=3\r\n");
}

TEST_F(ProfileFileTest, WritingAddsAMissingSectionAtTheEnd) {
    WriteFile("crc.ini", "[A]\nk=1");
    ASSERT_TRUE(WriteProfileValue("./crc.ini", "GLOBAL_CRC", "list.ini", "0"));
    ASSERT_TRUE(WriteProfileValue("./crc.ini", "A", "m", "2"));
    EXPECT_EQ(ReadFile("crc.ini"), "[A]\nk=1\nm=2\n[GLOBAL_CRC]\nlist.ini=0\n");
    EXPECT_EQ(ReadProfileValue("./crc.ini", "GLOBAL_CRC", "list.ini"), "0");
}

TEST_F(ProfileFileTest, RemovingKeepsEveryOtherLineAndRemovesWhatIsLeftEmpty) {
    struct Case {
        char const* name;
        std::string before;
        std::string section;
        std::string key;
        std::optional<std::string> after;  // nothing: no file
    };
    Case const cases[] = {
        {"one of two keys", "[P]\r\na=1\r\nb=2\r\n[G]\r\nl=3\r\n", "p", "A",
         "[P]\r\nb=2\r\n[G]\r\nl=3\r\n"},
        {"the last key of a section", "[G]\nl=3\n[P]\na=1\n", "P", "a", "[G]\nl=3\n"},
        {"a key that stands twice", "[P]\na=1\nb=2\na=3\n", "P", "a", "[P]\nb=2\n"},
        {"a missing key", "[P]\na=1\n", "P", "b", "[P]\na=1\n"},
        {"the last key of the file", "[P]\na=1\n", "P", "a", std::nullopt},
        {"no file", "", "P", "a", std::nullopt},
    };
    for (Case const& c : cases) {
        SCOPED_TRACE(c.name);
        if (!c.before.empty()) {
            WriteFile("crc.ini", c.before);
        }
        EXPECT_TRUE(RemoveProfileValue("./crc.ini", c.section, c.key));
        EXPECT_EQ(ReadFile("crc.ini"), c.after.value_or(""));
        EXPECT_EQ(Listing(),
                  c.after ? std::vector<std::string>{"crc.ini"} : std::vector<std::string>{});
        std::filesystem::remove("crc.ini");
    }
}

TEST_F(ProfileFileTest, WritingRefusesTextsThatCannotBeStored) {
    WriteFile("crc.ini", "[A]\nk=1\n");
    EXPECT_FALSE(WriteProfileValue("./crc.ini", "A", "k", "two\nlines"));
    EXPECT_FALSE(WriteProfileValue("./crc.ini", "A", "k=v", "1"));
    EXPECT_FALSE(WriteProfileValue("./crc.ini", "A]", "k", "1"));
    EXPECT_FALSE(WriteProfileValue("./crc.ini", "A", "", "1"));
    EXPECT_FALSE(WriteProfileValue("./missing-dir/crc.ini", "A", "k", "1"));
    std::filesystem::create_directory("folder.ini");
    EXPECT_FALSE(WriteProfileValue("./folder.ini", "A", "k", "1"));
    EXPECT_EQ(ReadFile("crc.ini"), "[A]\nk=1\n");
    EXPECT_EQ(Listing(), (std::vector<std::string>{"crc.ini", "folder.ini"}));
}

// A write that fails halfway leaves the old file as it was and no temporary file behind.
TEST_F(ProfileFileTest, FailedWriteKeepsTheOldFile) {
    QM_SKIP_WITHOUT(FileSizeLimit);
    std::string const old = "[GLOBAL_CRC]\nquillmesh.ini=1\n";
    WriteFile("crc.ini", old);
    bool written = true;
    {
        test::FileSizeLimit const limit(64);
        ASSERT_TRUE(limit.active());
        written = WriteProfileValue("./crc.ini", "GLOBAL_CRC", "big", std::string(200, '9'));
    }
    EXPECT_FALSE(written);
    EXPECT_EQ(ReadFile("crc.ini"), old);
    EXPECT_EQ(Listing(), std::vector<std::string>{"crc.ini"});
}

TEST(ParseUnsignedValueTest, ReadsLeadingDigits) {
    struct Case {
        std::optional<std::string> text;
        unsigned long value;
    } const cases[] = {
        {" 42abc", 42},
        {"abc", 0},
        {std::nullopt, 0},
        {"", 0},
        {"99999999999", 4294967295ul},
        {"4294967295", 4294967295ul},
        {"4294967296", 4294967295ul},
        {"3421780262", 3421780262ul},
        {"\t 007", 7},
        {"-5", 0},
    };
    for (Case const& c : cases) {
        EXPECT_EQ(ParseUnsignedValue(c.text), c.value) << c.text.value_or("<none>");
    }
}

TEST(ProfileLeftovers, OnlyTheTemporariesOfThatFileAreRemoved) {
    qm::test::TempDir dir;
    qm::test::WriteFile(".crc.ini.k7Qz2a", "half written");
    qm::test::WriteFile(".crc.ini.short", "not one: wrong length");
    qm::test::WriteFile(".upd.ini.k7Qz2a", "another file's");
    qm::test::WriteFile("crc.ini", "[GLOBAL_CRC]\n");
    EXPECT_EQ(RemoveProfileLeftovers("./crc.ini"), 1);
    EXPECT_FALSE(std::filesystem::exists(".crc.ini.k7Qz2a"));
    EXPECT_TRUE(std::filesystem::exists(".crc.ini.short"));
    EXPECT_TRUE(std::filesystem::exists(".upd.ini.k7Qz2a"));
    EXPECT_TRUE(std::filesystem::exists("crc.ini"));
}

// Found by fuzzing: texts that a plain "key=value" line would not give back.
TEST(ProfileRoundTrip, ValuesReadBackAsWrittenOrAreRefused) {
    qm::test::TempDir dir;
    for (std::string value : {" v", "v ", "'v'", "\"v\"", "\"half", " 'x' "}) {
        ASSERT_TRUE(WriteProfileValue("./t.ini", "S", "k", value)) << value;
        EXPECT_EQ(ReadProfileValue("./t.ini", "S", "k"), value) << value;
    }
    for (auto [section, key] :
         {std::pair{"S", "; k"}, {"S", "[x"}, {"S", "k "}, {" S", "k"}, {"S ", "k"}}) {
        EXPECT_FALSE(WriteProfileValue("./t.ini", section, key, "v")) << section << key;
    }
    EXPECT_EQ(ReadProfileValue("./t.ini", "S", "k"), " 'x' ");
}

}  // namespace
}  // namespace qm::store
