#include "path/path_fixture.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/violation.h"

namespace qm::fuzz {
namespace {

void MakeDirectory(std::string const& path) {
    Require(::mkdir(path.c_str(), 0755) == 0, "fixture: cannot create " + path);
}

void MakeFile(std::string const& path, std::string_view text) {
    int const fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    Require(fd >= 0, "fixture: cannot create " + path);
    Require(::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()),
            "fixture: cannot write " + path);
    ::close(fd);
}

void MakeLink(std::string const& target, std::string const& path) {
    Require(::symlink(target.c_str(), path.c_str()) == 0, "fixture: cannot create " + path);
}

}  // namespace

PathFixture::PathFixture() : root_("path"), client_(root_.path() + "/client") {
    std::string const& root = root_.path();
    MakeDirectory(root + "/outside");
    MakeDirectory(root + "/outside/dir");
    MakeFile(root + "/outside/secret.txt", "outside\n");
    MakeDirectory(client_);
    MakeFile(client_ + "/readme.txt", "readme\n");
    for (char const* directory : {"/data", "/data/maps", "/deep", "/deep/er", "/deep/er/est",
                                  "/name with blanks", "/we\\ird"}) {
        MakeDirectory(client_ + directory);
    }
    MakeFile(client_ + "/data/maps/town.map", "map\n");
    MakeLink("maps", client_ + "/data/inner-link");
    MakeLink(client_ + "/data/maps", client_ + "/data/absolute-inside");
    MakeLink("../../..", client_ + "/deep/er/back-home");
    MakeLink("../../../..", client_ + "/deep/er/escape");
    MakeLink("../outside", client_ + "/out");
    MakeLink(root + "/outside", client_ + "/out-absolute");
    MakeLink("/", client_ + "/root");
    MakeLink("..", client_ + "/up");
    MakeLink(".", client_ + "/self");
    MakeLink("loop", client_ + "/loop");
    MakeLink("ring-b", client_ + "/ring-a");
    MakeLink("ring-a", client_ + "/ring-b");
    MakeLink("../outside/secret.txt", client_ + "/file-link");
    MakeLink("../outside/missing", client_ + "/dangling");
    MakeLink("data/../../outside", client_ + "/sneaky");
    Require(::chdir(client_.c_str()) == 0, "fixture: cannot enter the client directory");
    built_ = SnapshotTree(root);
}

std::string PathFixture::Changes() const {
    return DescribeDifference(built_, SnapshotTree(root_.path()));
}

}  // namespace qm::fuzz
