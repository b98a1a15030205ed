// CPU time of the whole process (every thread, user and system), for figures that must count
// the work of helper threads too.
#pragma once

#include <sys/resource.h>

namespace qm::bench {

inline double ProcessCpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    auto const seconds = [](timeval const& time) {
        return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) * 1e-6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

}  // namespace qm::bench
