#include "update_server/release_scan.h"

#include <fcntl.h>
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

// FileCrc32 cannot tell an unreadable file from an empty one, so readability is checked first.
std::optional<std::string> ReadProblem(std::filesystem::path const& path) {
    base::UniqueFd const file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!file.valid()) {
        return std::string(std::strerror(errno));
    }
    return std::nullopt;
}

Outcome<ReleaseFile> ScanFile(std::filesystem::path const& root,
                              std::filesystem::directory_entry const& entry) {
    std::filesystem::path const& path = entry.path();
    if (auto problem = ReadProblem(path)) {
        return Outcome<ReleaseFile>::Failure("cannot read " + Quoted(path.string()) + ": " +
                                             *problem);
    }
    std::error_code error;
    std::uintmax_t const size = std::filesystem::file_size(path, error);
    if (error) {
        return Outcome<ReleaseFile>::Failure("cannot read " + Quoted(path.string()) + ": " +
                                             error.message());
    }
    return Outcome<ReleaseFile>::Success(ReleaseFile{path.lexically_relative(root).generic_string(),
                                                     checksum::FileCrc32(path.string()), size});
}

}  // namespace

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
