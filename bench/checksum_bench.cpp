// Throughput of the file checksum against plain reading of the same file with the same block
// size, and against zlib's crc32 over the same reads. The test file is created once in a
// temporary directory and removed at the end; it is read from the page cache after the first
// pass, so the figures show the CPU cost, not the disk.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "store/checksum.h"

#ifdef QM_BENCH_WITH_ZLIB
#include <zlib.h>
#endif

namespace {

constexpr std::size_t kFileSize = std::size_t{256} << 20;

std::string& TestFilePath() {
    static std::string path;
    return path;
}

bool CreateTestFile(std::string const& path) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    std::mt19937_64 random(42);
    std::vector<std::uint64_t> block(qm::store::kFileReadBlockSize / sizeof(std::uint64_t));
    for (std::size_t written = 0; written < kFileSize; written += qm::store::kFileReadBlockSize) {
        for (auto& word : block) {
            word = random();
        }
        out.write(reinterpret_cast<char const*>(block.data()),
                  static_cast<std::streamsize>(qm::store::kFileReadBlockSize));
    }
    return out.good();
}

// Reads the whole file in blocks of the checksum's size and hands each block to `consume`.
template <typename Consume>
void ReadFileInBlocks(std::string const& path, Consume consume) {
    int const fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return;
    }
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    auto const buffer =
        std::make_unique_for_overwrite<std::uint8_t[]>(qm::store::kFileReadBlockSize);
    for (;;) {
        ssize_t const got = ::read(fd, buffer.get(), qm::store::kFileReadBlockSize);
        if (got <= 0) {
            break;
        }
        consume(buffer.get(), static_cast<std::size_t>(got));
    }
    ::close(fd);
}

void BM_FileCrc32(benchmark::State& state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(qm::store::FileCrc32(TestFilePath()));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kFileSize));
}
BENCHMARK(BM_FileCrc32)->Unit(benchmark::kMillisecond);

void BM_ReadOnly(benchmark::State& state) {
    for (auto _ : state) {
        std::uint8_t sink = 0;
        ReadFileInBlocks(TestFilePath(), [&](std::uint8_t const* bytes, std::size_t) {
            sink = static_cast<std::uint8_t>(sink ^ bytes[0]);
        });
        benchmark::DoNotOptimize(sink);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kFileSize));
}
BENCHMARK(BM_ReadOnly)->Unit(benchmark::kMillisecond);

#ifdef QM_BENCH_WITH_ZLIB
void BM_ZlibCrc32(benchmark::State& state) {
    for (auto _ : state) {
        uLong crc = crc32(0L, Z_NULL, 0);
        ReadFileInBlocks(TestFilePath(), [&](std::uint8_t const* bytes, std::size_t size) {
            crc = crc32(crc, bytes, static_cast<uInt>(size));
        });
        benchmark::DoNotOptimize(crc);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kFileSize));
}
BENCHMARK(BM_ZlibCrc32)->Unit(benchmark::kMillisecond);
#endif

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    std::string directory =
        (std::filesystem::temp_directory_path() / "qm-checksum-bench-XXXXXX").string();
    if (::mkdtemp(directory.data()) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    TestFilePath() = directory + "/data.bin";
    bool const created = CreateTestFile(TestFilePath());
    if (created) {
        benchmark::RunSpecifiedBenchmarks();
    } else {
        std::fprintf(stderr, "cannot create %s\n", TestFilePath().c_str());
    }
    benchmark::Shutdown();
    std::error_code ignored;
    std::filesystem::remove_all(directory, ignored);
    return created ? 0 : 1;
}
