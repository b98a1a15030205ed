// The paths a hostile server sends, judged on Windows against a real client directory.
#include <gtest/gtest.h>

#include "store/path_check.h"
#include "win/scratch.h"

namespace qm::store {
namespace {

struct PathCase {
    std::string_view path;
    bool inside;
};

TEST(WindowsPathRules, RefuseWhatWindowsWouldTakeForSomethingElse) {
    test::win::Scratch const scratch;
    std::filesystem::create_directories("client/data/maps");
    std::filesystem::current_path("client");
    PathCase const cases[] = {
        {"quillmesh.exe", true},
        {"data/maps/town.map", true},
        {"data\\maps\\town.map", true},
        {"new/dirs/yet.txt", true},
        {"./data/x.txt", true},
        {"C:x", false},
        {"C:\\Windows\\x", false},
        {"c:/x", false},
        {"\\rooted", false},
        {"/rooted", false},
        {"\\\\server\\share\\x", false},
        {"\\\\?\\C:\\x", false},
        {"\\\\.\\PhysicalDrive0", false},
        {"CON", false},
        {"data/aux.txt", false},
        {"data/NUL", false},
        {"lpt1.log", false},
        {"com\xB9.txt", false},  // COM with a superscript one, in the ANSI code page (1252)
        {"data/CONIN$", false},
        {"data/maps/town.map:hidden", false},
        {"data/maps:stream/x", false},
        {"data./x", false},
        {"data/x ", false},
        {"what?.txt", false},
        {"..\\x", false},
        {"data/../../x", false},
    };
    for (PathCase const& c : cases) {
        EXPECT_EQ(StaysInsideCurrentDirectory(c.path), c.inside) << c.path;
    }
}

}  // namespace
}  // namespace qm::store
