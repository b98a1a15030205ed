// start_stamp FILE [ARGUMENT...]: the client program of the commit benchmark. It writes the time
// it started (CLOCK_MONOTONIC, nanoseconds, what std::chrono::steady_clock reads in the benchmark)
// to FILE and ends: the updater's EXE, so that the benchmark sees when the updater started it.
#include <time.h>

#include <cstdio>

int main(int argc, char** argv) {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    if (argc < 2) {
        return 2;
    }
    std::FILE* const file = std::fopen(argv[1], "w");
    if (file == nullptr) {
        return 1;
    }
    std::fprintf(file, "%lld\n",
                 static_cast<long long>(now.tv_sec) * 1'000'000'000LL + now.tv_nsec);
    return std::fclose(file) == 0 ? 0 : 1;
}
