#include "update_server/release_scan.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

#include "base/unix/unique_fd.h"
#include "checksum/checksum.h"
#include "update_server/wording.h"

namespace qm::server {
namespace {

using Files = std::vector<ReleaseFile>;

// The size and identity of the file, from the file itself (FileCrc32 cannot tell an unreadable
// file from an empty one, so readability is checked first); or why it cannot be read.
Outcome<ReleaseFile> StatFile(std::filesystem::path const& path) {
    base::UniqueFd const file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat status {};
    if (!file.valid() || ::fstat(file.get(), &status) != 0) {
        return Outcome<ReleaseFile>::Failure("cannot read " + Quoted(path.string()) + ": " +
                                             std::strerror(errno));
    }
    return Outcome<ReleaseFile>::Success(
        ReleaseFile{{}, 0, static_cast<std::uint64_t>(status.st_size), IdentityOf(status)});
}

Outcome<ReleaseFile> ScanFile(std::filesystem::path const& root,
                              std::filesystem::directory_entry const& entry) {
    std::filesystem::path const& path = entry.path();
    Outcome<ReleaseFile> file = StatFile(path);
    if (file.ok()) {
        file.value().path = path.lexically_relative(root).generic_string();
        file.value().checksum = checksum::FileCrc32(path.string());
    }
    return file;
}

}  // namespace

FileIdentity IdentityOf(struct stat const& status) {
    return FileIdentity{
        static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino),
        std::int64_t{status.st_mtim.tv_sec} * 1'000'000'000 + status.st_mtim.tv_nsec};
}

Outcome<Files> ScanRelease(std::filesystem::path const& root) {
    std::error_code error;
    if (!std::filesystem::is_directory(root, error)) {
        return Outcome<Files>::Failure(
            "release directory " + Quoted(root.string()) +
            (std::filesystem::exists(root, error) ? " is not a directory" : " does not exist"));
    }
    Files files;
    std::filesystem::recursive_directory_iterator walk(root, error);
    for (; !error && walk != std::filesystem::recursive_directory_iterator();
         walk.increment(error)) {
        std::error_code statusError;
        if (!walk->is_regular_file(statusError)) {
            continue;
        }
        Outcome<ReleaseFile> file = ScanFile(root, *walk);
        if (!file.ok()) {
            return Outcome<Files>::Failure(file.reason());
        }
        files.push_back(std::move(file.value()));
    }
    if (error) {
        return Outcome<Files>::Failure("cannot read the release directory " +
                                       Quoted(root.string()) + ": " + error.message());
    }
    return Outcome<Files>::Success(std::move(files));
}

}  // namespace qm::server
