#include "session/client_fixture.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <vector>

#include "support/escaped.h"
#include "support/temp_dir.h"
#include "support/violation.h"
#include "support/wire_format.h"

namespace qm::fuzz {
namespace {

constexpr std::string_view kClientName = "client";
constexpr std::string_view kDownloadPrefix = ".quillmesh-download-";

// Writes a file of the fixture, making the directories it lies in first.
void MakeFile(std::string const& path, std::string_view text, mode_t mode = 0644) {
    Require(test::WriteFile(path, text) && ::chmod(path.c_str(), mode) == 0,
            "fixture: cannot create " + path);
}

// A name of `prefix` and six more characters, as the updater names its temporary files.
bool HasTemporaryName(std::string const& path, std::string_view prefix) {
    std::string const name = path.substr(path.rfind('/') + 1);
    return name.starts_with(prefix) && name.size() == prefix.size() + 6;
}

bool IsLeftoverOfKilledDownload(std::string const& path) {
    return HasTemporaryName(path, kDownloadPrefix);
}

// The names that the updater's own temporary files have: a download's, or a profile file's
// while it is rewritten. A server may name a file like that too; only one whose checksum the
// server never announced is taken for a leftover.
bool IsTemporaryName(std::string const& path) {
    return IsLeftoverOfKilledDownload(path) || HasTemporaryName(path, ".crc.ini.");
}

// What an unfinished download keeps for the next run, beside its target. Its bytes are a start of
// an announced file, not a whole one, so no announced checksum matches them; the server cannot
// name such a file itself (the updater refuses the path).
bool IsPartialDownload(std::string const& path) {
    return path.substr(path.rfind('/') + 1).starts_with(".quillmesh-partial-");
}

// The snapshot of what lies beside the client directory, under `root`.
TreeSnapshot Outside(std::string const& root) {
    TreeSnapshot snapshot = SnapshotTree(root);
    std::erase_if(snapshot, [](auto const& entry) {
        return entry.first == kClientName || entry.first.starts_with("client/");
    });
    return snapshot;
}

}  // namespace

ClientFixture::ClientFixture() : root_("session"), client_(root_.path() + "/client") {
    std::string const sentinel = root_.path() + "/sentinel";
    MakeFile(sentinel + "/secret.txt", "must stay as it is\n");
    MakeFile(sentinel + "/inner/deeper.txt", "this too\n");
    Build();
    outside_ = Outside(root_.path());
    inside_ = SnapshotTree(client_);
    Require(::chdir(client_.c_str()) == 0, "fixture: cannot enter the client directory");
}

void ClientFixture::Build() const {
    MakeFile(client_ + "/upd.ini", "[GENERAL]\nSERVER=127.0.3.1\nEXE=./quillmesh\n");
    MakeFile(client_ + "/crc.ini", "[GLOBAL_CRC]\nquillmesh.ini=12345\ndata.ini=3421780262\n");
    MakeFile(client_ + "/quillmesh", "#!/bin/sh\nexit 0\n", 0755);
    MakeFile(client_ + "/readme.txt", "old readme\n");
    MakeFile(client_ + "/data/maps/town.map", "old town map\n");
    MakeFile(client_ + "/data/maps/.quillmesh-download-Ab12Cd", "left by a killed run\n");
    std::filesystem::create_directory(client_ + "/data/empty");
    std::filesystem::create_symlink("../sentinel", client_ + "/out");
    std::filesystem::create_symlink(root_.path() + "/sentinel", client_ + "/out-absolute");
    std::filesystem::create_symlink("..", client_ + "/up");
    std::filesystem::create_symlink(".", client_ + "/self");
    std::filesystem::create_symlink("../sentinel/secret.txt", client_ + "/escape.txt");
}

void ClientFixture::Reset() {
    test::RemoveTree(client_);
    Build();
    Require(::chdir(client_.c_str()) == 0, "fixture: cannot enter the client directory");
}

std::string ClientFixture::Check(ServerPermissions const& permissions) const {
    std::vector<char> here(4096);
    if (::getcwd(here.data(), here.size()) == nullptr || client_ != here.data()) {
        return "the current directory changed";
    }
    std::string problem = CheckOutside();
    return problem.empty() ? CheckInside(permissions) : problem;
}

std::string ClientFixture::CheckOutside() const {
    std::string const difference = DescribeDifference(outside_, Outside(root_.path()));
    return difference.empty() ? "" : "outside the client directory: " + Escaped(difference);
}

std::string ClientFixture::CheckInside(ServerPermissions const& permissions) const {
    TreeSnapshot const now = SnapshotTree(client_);
    for (auto const& [path, built] : inside_) {
        auto const found = now.find(path);
        if (found == now.end()) {
            bool const allowed = built.kind == TreeEntry::Kind::Directory ||
                                 permissions.deletions.contains(path) ||
                                 IsLeftoverOfKilledDownload(path);
            if (!allowed) {
                return "lost without a deletion request: " + Escaped(path);
            }
        }
    }
    for (auto const& [path, entry] : now) {
        auto const built = inside_.find(path);
        if (built != inside_.end() && built->second == entry) {
            continue;
        }
        if (path == "crc.ini" || entry.kind == TreeEntry::Kind::Directory) {
            continue;
        }
        if (entry.kind != TreeEntry::Kind::File) {
            return "a link, pipe, socket or device appeared: " + Escaped(path);
        }
        if (!permissions.checksums.contains(test::ReferenceCrc32(entry.content)) &&
            !IsPartialDownload(path)) {
            return (IsTemporaryName(path) ? "temporary file left behind: "
                                          : "a file with a checksum the server never announced: ") +
                   Escaped(path);
        }
    }
    return "";
}

std::string ClientRelativePath(std::string const& clientDirectory, std::string_view path) {
    std::string normalised(path.substr(0, 400));
    std::ranges::replace(normalised, '\\', '/');
    std::vector<std::string> components;
    for (std::size_t start = 0; start <= normalised.size();) {
        std::size_t const end = std::min(normalised.find('/', start), normalised.size());
        std::string component = normalised.substr(start, end - start);
        if (!component.empty() && component != ".") {
            components.push_back(std::move(component));
        }
        start = end + 1;
    }
    if (components.empty()) {
        return "";
    }
    std::string directory;
    for (std::size_t i = 0; i + 1 < components.size(); ++i) {
        directory += (directory.empty() ? "" : "/") + components[i];
    }
    if (!directory.empty()) {
        std::error_code error;
        std::string const resolved =
            std::filesystem::canonical(clientDirectory + "/" + directory, error).string();
        if (!error &&
            (resolved == clientDirectory || resolved.starts_with(clientDirectory + "/"))) {
            directory = resolved.substr(std::min(resolved.size(), clientDirectory.size() + 1));
        }
    }
    return directory.empty() ? components.back() : directory + "/" + components.back();
}

}  // namespace qm::fuzz
