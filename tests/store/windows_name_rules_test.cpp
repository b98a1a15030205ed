#include "store/windows_name_rules.h"

#include <gtest/gtest.h>

#include <string>

namespace qm::store {
namespace {

struct NameCase {
    std::wstring_view component;
    bool hazardous;
};

TEST(WindowsNameRules, JudgesEachComponent) {
    NameCase const cases[] = {
        {L"quillmesh.exe", false},
        {L"town.map", false},
        {L".quillmesh-partial-x", false},  // the working-file rules decide these
        {L"CONSOLE", false},
        {L"COMA", false},
        {L"LPT10", false},
        {L"con.txt.bak", true},
        {L"CON", true},
        {L"con", true},
        {L"Con.txt", true},
        {L"CON .txt", true},
        {L"PRN", true},
        {L"aux.dat", true},
        {L"NUL", true},
        {L"nul.", true},
        {L"CONIN$", true},
        {L"conout$.log", true},
        {L"COM0", true},
        {L"com9.txt", true},
        {L"LPT0", true},
        {L"lpt5", true},
        {L"COM\u00B9", true},
        {L"lpt\u00B2.txt", true},
        {L"LPT\u00B3", true},
        {L"name:stream", true},
        {L"file.txt:$DATA", true},
        {L"ends-in-a-dot.", true},
        {L"ends-in-a-blank ", true},
        {L"what?", true},
        {L"a*b", true},
        {L"a<b", true},
        {L"a>b", true},
        {L"a|b", true},
        {L"a\"b", true},
        {L"tab\there", true},
        {L".", false},
        {L"..", false},
        {L"", false},
    };
    for (NameCase const& c : cases) {
        EXPECT_EQ(IsHazardousWindowsComponent(c.component), c.hazardous)
            << std::string(c.component.begin(), c.component.end());
    }
}

}  // namespace
}  // namespace qm::store
