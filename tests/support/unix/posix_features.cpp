#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>

#include "support/posix_features.h"

namespace qm::test {

std::string_view WhyMissing(PosixFeature) {
    return {};
}

bool MakeNamedPipe(std::filesystem::path const& path) {
    return ::mkfifo(path.c_str(), 0600) == 0;
}

FileSizeLimit::FileSizeLimit(std::uint64_t bytes) {
    rlimit limit{};
    if (::getrlimit(RLIMIT_FSIZE, &limit) != 0) {
        return;
    }
    saved_ = limit.rlim_cur;
    limit.rlim_cur = bytes;
    // A write past the limit raises SIGXFSZ, which ends the process unless ignored.
    savedHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    active_ = ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
}

FileSizeLimit::~FileSizeLimit() {
    if (!active_) {
        return;
    }
    rlimit limit{};
    ::getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = saved_;
    ::setrlimit(RLIMIT_FSIZE, &limit);
    std::signal(SIGXFSZ, savedHandler_);
}

}  // namespace qm::test
