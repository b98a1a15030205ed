#include "path/path_fixture.h"

#include <unistd.h>

#include <filesystem>

#include "support/temp_dir.h"
#include "support/violation.h"

namespace qm::fuzz {
namespace {

namespace fs = std::filesystem;

void MakeFile(fs::path const& path, std::string_view text) {
    Require(test::WriteFile(path, text), "fixture: cannot create " + path.string());
}

}  // namespace

PathFixture::PathFixture() : root_("path"), client_(root_.path() + "/client") {
    std::string const& root = root_.path();
    fs::create_directories(root + "/outside/dir");
    MakeFile(root + "/outside/secret.txt", "outside\n");
    for (char const* directory : {"", "/data", "/data/maps", "/deep", "/deep/er", "/deep/er/est",
                                  "/name with blanks", "/we\\ird"}) {
        fs::create_directories(client_ + directory);
    }
    MakeFile(client_ + "/readme.txt", "readme\n");
    MakeFile(client_ + "/data/maps/town.map", "map\n");
    fs::create_symlink("maps", client_ + "/data/inner-link");
    fs::create_symlink(client_ + "/data/maps", client_ + "/data/absolute-inside");
    fs::create_symlink("../../..", client_ + "/deep/er/back-home");
    fs::create_symlink("../../../..", client_ + "/deep/er/escape");
    fs::create_symlink("../outside", client_ + "/out");
    fs::create_symlink(root + "/outside", client_ + "/out-absolute");
    fs::create_symlink("/", client_ + "/root");
    fs::create_symlink("..", client_ + "/up");
    fs::create_symlink(".", client_ + "/self");
    fs::create_symlink("loop", client_ + "/loop");
    fs::create_symlink("ring-b", client_ + "/ring-a");
    fs::create_symlink("ring-a", client_ + "/ring-b");
    fs::create_symlink("../outside/secret.txt", client_ + "/file-link");
    fs::create_symlink("../outside/missing", client_ + "/dangling");
    fs::create_symlink("data/../../outside", client_ + "/sneaky");
    Require(::chdir(client_.c_str()) == 0, "fixture: cannot enter the client directory");
    built_ = SnapshotTree(root);
}

std::string PathFixture::Changes() const {
    return DescribeDifference(built_, SnapshotTree(root_.path()));
}

}  // namespace qm::fuzz
