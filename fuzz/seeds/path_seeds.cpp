// Seeds of the path harness: local paths as a server would send them, and the ways out of the
// client directory that the fixture offers.
#include "seeds/seed_writer.h"

namespace qm::fuzz::seeds {

void WritePathSeeds(SeedWriter& writer) {
    struct Seed {
        char const* name;
        char const* text;
    };
    static constexpr Seed kSeeds[] = {
        {"bare-name", "readme.txt"},
        {"nested", "data/maps/town.map"},
        {"backslashes", "data\\maps\\forest.map"},
        {"new-directories", "gfx/icons/new/app.png"},
        {"through-inner-link", "data/inner-link/town.map"},
        {"through-absolute-inside", "data/absolute-inside/x.map"},
        {"through-self", "self/data/maps/x"},
        {"back-home", "deep/er/back-home/readme.txt"},
        {"sibling-link", "out/secret.txt"},
        {"absolute-link", "out-absolute/dir/x"},
        {"parent-link", "up/outside/secret.txt"},
        {"root-link", "root/etc/passwd"},
        {"nested-escape", "deep/er/escape/outside/x"},
        {"link-with-dotdot", "sneaky/x"},
        {"dangling", "dangling/x"},
        {"loop", "loop/x"},
        {"ring", "ring-a/x"},
        {"file-link", "file-link"},
        {"file-link-as-directory", "file-link/x"},
        {"dotdot", "../outside/secret.txt"},
        {"dotdot-backslash", "data\\..\\..\\outside"},
        {"absolute", "/etc/passwd"},
        {"absolute-backslash", "\\data\\x.txt"},
        {"drive", "C:\\quillmesh\\x"},
        {"dots", "a//b/./c/"},
        {"blanks", "name with blanks/x"},
        {"backslash-in-name", "we\\ird/x"},
        {"trailing-separator", "data/maps/"},
    };
    for (Seed const& seed : kSeeds) {
        writer.Write(seed.name, ToBytes(seed.text));
    }
}

}  // namespace qm::fuzz::seeds
