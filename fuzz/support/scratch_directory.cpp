#include "support/scratch_directory.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

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

}  // namespace

ScratchDirectory::ScratchDirectory(std::string_view purpose)
    : directory_(
          {.enter = false, .prefix = "qm-fuzz-" + std::string(purpose), .base = ScratchBase()}),
      path_(directory_.path().string()) {}

}  // namespace qm::fuzz
