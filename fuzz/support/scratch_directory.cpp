#include "support/scratch_directory.h"

#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "support/violation.h"

namespace qm::fuzz {
namespace {

bool IsWritableDirectory(char const* path) {
    struct stat status {};
    return path != nullptr && *path != '\0' && ::stat(path, &status) == 0 &&
           S_ISDIR(status.st_mode) && ::access(path, W_OK | X_OK) == 0;
}

std::string ScratchBase() {
    char const* const candidates[] = {std::getenv("QM_FUZZ_TMPDIR"), "/dev/shm",
                                      std::getenv("TMPDIR")};
    for (char const* candidate : candidates) {
        if (IsWritableDirectory(candidate)) {
            return candidate;
        }
    }
    return "/tmp";
}

std::string RealPath(std::string const& path) {
    std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr),
                                                         &std::free);
    if (!resolved) {
        Violation("scratch directory: realpath failed for " + path);
    }
    return resolved.get();
}

int RemoveOne(char const* path, struct stat const* /*status*/, int type, struct FTW* /*where*/) {
    if (type == FTW_DP) {
        ::rmdir(path);
    } else {
        ::unlink(path);
    }
    return 0;
}

}  // namespace

ScratchDirectory::ScratchDirectory(std::string_view purpose) {
    std::string pattern = ScratchBase() + "/qm-fuzz-" + std::string(purpose) + "-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (::mkdtemp(name.data()) == nullptr) {
        Violation("scratch directory: mkdtemp failed for " + pattern);
    }
    path_ = RealPath(name.data());
}

ScratchDirectory::~ScratchDirectory() {
    RemoveTree(path_);
}

void RemoveTree(std::string const& path) {
    ::nftw(path.c_str(), RemoveOne, 16, FTW_DEPTH | FTW_PHYS);
}

}  // namespace qm::fuzz
