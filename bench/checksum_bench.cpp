// In-process microbenchmarks (the figures of the installed program come from shipped_bench):
// throughput of the file checksum against its limit, reading the same file with the same block
// size and doing nothing else;
// the CRC kernels alone in memory; and 10,000 small
// files checksummed against only opening and reading them.
//
// The 1 GiB test file is written once and read from the page cache (it is read once before
// the first measurement), so the figures show what the processor and the kernel's copy cost,
// not the disk. Repetitions are interleaved at random so that a change of load on a shared
// machine hits every benchmark alike; each figure is the median of its repetitions.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "checksum/checksum.h"
#include "checksum/crc32_engine.h"
#include "checksum/crc32_file_reading.h"
#include "checksum/crc32_read_only_file.h"
#include "median_reporter.h"
#include "process_cpu.h"
#include "random_file.h"
#include "ratio_table.h"
#include "support/temp_dir.h"

namespace {

using qm::checksum::Crc32Engine;
using qm::checksum::ReadOnlyFile;

constexpr std::uint64_t kLargeFileSize = std::uint64_t{1} << 30;
constexpr std::size_t kSmallFileCount = 10000;
constexpr std::size_t kSmallFileSize = 4096;
constexpr std::size_t kMidFileCount = 100;  // read in turn, never split
constexpr std::size_t kMidFileSize = std::size_t{1} << 20;
constexpr std::size_t kMemoryBlockSize = 256 * 1024;  // stays in the level-2 cache
constexpr std::size_t kBlockSize = 256 * 1024;        // that of FileCrc32, "256KiB" in names
constexpr double kMinSeconds = 0.4;

// The engines this processor can run.
std::vector<Crc32Engine> SupportedEngines() {
    std::vector<Crc32Engine> engines;
    for (Crc32Engine const engine :
         {Crc32Engine::kTable, Crc32Engine::kCarryless, Crc32Engine::kWideCarryless}) {
        if (qm::checksum::Crc32EngineSupported(engine)) {
            engines.push_back(engine);
        }
    }
    return engines;
}

// Reads the whole file in blocks of `blockSize`, as the checksum does, and hands each block to
// `consume`.
template <typename Consume>
void ReadInBlocks(std::string const& path, std::size_t blockSize, Consume consume) {
    ReadOnlyFile const file(path);
    file.AdviseSequentialReading();
    auto const buffer = std::make_unique_for_overwrite<std::uint8_t[]>(blockSize);
    std::span<std::uint8_t> const block(buffer.get(), blockSize);
    for (std::size_t got = file.ReadSome(block); got > 0; got = file.ReadSome(block)) {
        consume(block.first(got));
    }
}

// Registers `name`, whose every iteration is one `pass` over `bytes` bytes. Each run counts the
// bytes of its iterations, and the CPU time of the whole process per GiB, so that the work of
// helper threads counts too. Wall time (the split pass works on two threads), in milliseconds,
// long enough runs.
void Register(std::string const& name, std::uint64_t bytes, std::function<void()> pass) {
    benchmark::RegisterBenchmark(
        name.c_str(),
        [bytes, pass](benchmark::State& state) {
            double const cpuAtStart = qm::bench::ProcessCpuSeconds();
            for (auto _ : state) {
                pass();
            }
            double const total =
                static_cast<double>(state.iterations()) * static_cast<double>(bytes);
            state.SetBytesProcessed(static_cast<std::int64_t>(total));
            state.counters["cpu_s_per_GiB"] =
                (qm::bench::ProcessCpuSeconds() - cpuAtStart) / (total / (1 << 30));
        })
        ->UseRealTime()
        ->MinTime(kMinSeconds)
        ->Unit(benchmark::kMillisecond);
}

void RegisterLargeFileBenchmarks(std::string const& path, std::uint64_t size) {
    Register("read_only/256KiB", size, [path] {
        std::uint8_t sink = 0;
        ReadInBlocks(path, kBlockSize, [&](std::span<const std::uint8_t> block) {
            sink = static_cast<std::uint8_t>(sink ^ block[0]);
        });
        benchmark::DoNotOptimize(sink);
    });
    auto const fastest = qm::checksum::Crc32UpdateFunctionOf(qm::checksum::FastestCrc32Engine());
    Register("split/256KiB", size, [path, size, fastest] {
        ReadOnlyFile const file(path);
        file.AdviseSequentialReading();
        benchmark::DoNotOptimize(qm::checksum::Crc32OfFileSplit(file, size, fastest, kBlockSize));
    });
    Register("FileCrc32", size,
             [path] { benchmark::DoNotOptimize(qm::checksum::FileCrc32(path)); });
    for (Crc32Engine const engine : SupportedEngines()) {
        auto const update = qm::checksum::Crc32UpdateFunctionOf(engine);
        Register("in_turn/" + std::string(qm::checksum::Crc32EngineName(engine)) + "/256KiB", size,
                 [path, update] {
                     std::uint32_t crc = qm::checksum::kCrcInitial;
                     ReadInBlocks(path, kBlockSize, [&](std::span<const std::uint8_t> block) {
                         crc = update(crc, block);
                     });
                     benchmark::DoNotOptimize(crc);
                 });
    }
}

void RegisterMemoryBenchmarks(std::vector<std::uint8_t> const& bytes) {
    for (Crc32Engine const engine : SupportedEngines()) {
        Register("memory/" + std::string(qm::checksum::Crc32EngineName(engine)), bytes.size(),
                 [&bytes, update = qm::checksum::Crc32UpdateFunctionOf(engine),
                  crc = qm::checksum::kCrcInitial]() mutable {
                     crc = update(crc, bytes);
                     benchmark::DoNotOptimize(crc);
                 });
    }
}

void RegisterSmallFileBenchmarks(std::vector<std::string> const& paths) {
    Register("small_files/open_read", paths.size() * kSmallFileSize,
             [&paths, buffer = std::vector<std::uint8_t>(kSmallFileSize)]() mutable {
                 std::uint8_t sink = 0;
                 for (std::string const& path : paths) {
                     ReadOnlyFile const file(path);
                     for (std::size_t got = file.ReadSome(buffer); got > 0;
                          got = file.ReadSome(buffer)) {
                         sink = static_cast<std::uint8_t>(sink ^ buffer[0]);
                     }
                 }
                 benchmark::DoNotOptimize(sink);
             });
    Register("small_files/FileCrc32", paths.size() * kSmallFileSize, [&paths] {
        std::uint32_t sink = 0;
        for (std::string const& path : paths) {
            sink ^= qm::checksum::FileCrc32(path);
        }
        benchmark::DoNotOptimize(sink);
    });
}

// 100 files of 1 MiB: FileCrc32 (64 KiB blocks) against reading them, and reading then
// checksumming them in turn, in 64, 128 and 256 KiB blocks (256 KiB: what FileCrc32 did before).
void RegisterMidSizedFileBenchmarks(std::vector<std::string> const& paths) {
    std::uint64_t const bytes = paths.size() * kMidFileSize;
    auto const fastest = qm::checksum::Crc32UpdateFunctionOf(qm::checksum::FastestCrc32Engine());
    for (std::size_t blockSize :
         {std::size_t{64} << 10, std::size_t{128} << 10, std::size_t{256} << 10}) {
        Register("mid_files/in_turn/" + std::to_string(blockSize >> 10) + "KiB", bytes,
                 [&paths, blockSize, fastest] {
                     std::uint32_t sink = 0;
                     for (std::string const& path : paths) {
                         std::uint32_t crc = qm::checksum::kCrcInitial;
                         ReadInBlocks(path, blockSize, [&](std::span<const std::uint8_t> block) {
                             crc = fastest(crc, block);
                         });
                         sink ^= crc;
                     }
                     benchmark::DoNotOptimize(sink);
                 });
        Register("mid_files/read_only/" + std::to_string(blockSize >> 10) + "KiB", bytes,
                 [&paths, blockSize] {
                     std::uint8_t sink = 0;
                     for (std::string const& path : paths) {
                         ReadInBlocks(path, blockSize, [&](std::span<const std::uint8_t> block) {
                             sink = static_cast<std::uint8_t>(sink ^ block[0]);
                         });
                     }
                     benchmark::DoNotOptimize(sink);
                 });
    }
    Register("mid_files/FileCrc32", bytes, [&paths] {
        std::uint32_t sink = 0;
        for (std::string const& path : paths) {
            sink ^= qm::checksum::FileCrc32(path);
        }
        benchmark::DoNotOptimize(sink);
    });
}

// Every way of computing the large file's checksum must agree before any of them is timed.
bool ChecksumsAgree(std::string const& path) {
    std::uint32_t const expected = qm::checksum::FileCrc32(path);
    bool agree = true;
    for (Crc32Engine const engine : SupportedEngines()) {
        ReadOnlyFile const file(path);
        agree = agree &&
                qm::checksum::Crc32OfFileSplit(
                    file, kLargeFileSize, qm::checksum::Crc32UpdateFunctionOf(engine)) == expected;
    }
    return agree;
}

bool PrintRatios(qm::bench::MedianReporter const& medians) {
    using Goal = qm::bench::RatioTable::Goal;
    std::string const fastest = qm::checksum::Crc32EngineName(qm::checksum::FastestCrc32Engine());
    qm::bench::RatioTable table("Checksum (" + fastest + " engine)");
    auto const rate = [&](std::string const& name) { return medians.BytesPerSecond(name); };
    table.Add("FileCrc32, 1 GiB file in the page cache", rate("FileCrc32"),
              "read only, 256 KiB blocks", rate("read_only/256KiB"), "GB/s", 1e9, Goal::AtLeast,
              0.90);
    table.Add("split pass, 256KiB blocks", rate("split/256KiB"), "read only, 256KiB blocks",
              rate("read_only/256KiB"), "GB/s", 1e9, Goal::Informational, 0);
    table.Add("read then checksum in turn, " + fastest, rate("in_turn/" + fastest + "/256KiB"),
              "read only, 256 KiB blocks", rate("read_only/256KiB"), "GB/s", 1e9,
              Goal::Informational, 0);
    table.Add("the table method in turn (before)", rate("in_turn/table/256KiB"),
              "read only, 256 KiB blocks", rate("read_only/256KiB"), "GB/s", 1e9,
              Goal::Informational, 0);
    for (std::string const& engine : {fastest, std::string("pclmul")}) {
        table.Add("kernel " + engine + " in memory (256 KiB)", rate("memory/" + engine),
                  "the table method in memory", rate("memory/table"), "GB/s", 1e9,
                  Goal::Informational, 0);
    }
    auto const cpu = [&](std::string const& name) {
        return medians.Counter(name, "cpu_s_per_GiB");
    };
    table.Add("CPU time per GiB, FileCrc32", cpu("FileCrc32"), "the same, reading only",
              cpu("read_only/256KiB"), "s", 1, Goal::Informational, 0);
    table.Add("CPU time per GiB, read then checksum in turn", cpu("in_turn/" + fastest + "/256KiB"),
              "the same, reading only", cpu("read_only/256KiB"), "s", 1, Goal::Informational, 0);
    std::string const before = "read then checksum in turn, 256 KiB blocks (FileCrc32 before)";
    table.Add("100 files of 1 MiB: FileCrc32 (64 KiB blocks)", rate("mid_files/FileCrc32"), before,
              rate("mid_files/in_turn/256KiB"), "GB/s", 1e9, Goal::Informational, 0);
    for (std::string const size : {"64KiB", "128KiB"}) {
        table.Add("100 files of 1 MiB: read then checksum in turn, " + size,
                  rate("mid_files/in_turn/" + size), before, rate("mid_files/in_turn/256KiB"),
                  "GB/s", 1e9, Goal::Informational, 0);
        table.Add("100 files of 1 MiB: read only, " + size, rate("mid_files/read_only/" + size),
                  "read only, 256 KiB blocks", rate("mid_files/read_only/256KiB"), "GB/s", 1e9,
                  Goal::Informational, 0);
    }
    table.Add("10,000 files of 4 KiB: FileCrc32 (time)", medians.Seconds("small_files/FileCrc32"),
              "open, read, close (time)", medians.Seconds("small_files/open_read"), "ms", 1e-3,
              Goal::AtMost, 1.10);
    return table.Print();
}

// Default flags, which the command line may override.
std::vector<char*> WithDefaults(int argc, char** argv) {
    static char repetitions[] = "--benchmark_repetitions=5";
    static char interleave[] = "--benchmark_enable_random_interleaving=true";
    static char aggregates[] = "--benchmark_report_aggregates_only=true";
    std::vector<char*> arguments = {argv[0], repetitions, interleave, aggregates};
    arguments.insert(arguments.end(), argv + 1, argv + argc);
    return arguments;
}

}  // namespace

int main(int argc, char** argv) try {
    std::vector<char*> arguments = WithDefaults(argc, argv);
    int count = static_cast<int>(arguments.size());
    benchmark::Initialize(&count, arguments.data());
    if (benchmark::ReportUnrecognizedArguments(count, arguments.data())) {
        return 1;
    }
    qm::test::TempDir const directory({.enter = false, .prefix = "qm-checksum-bench"});
    if (directory.FreeBytes() < 2 * kLargeFileSize) {
        throw std::runtime_error("less than 2 GiB free in " + directory.path().string());
    }
    std::mt19937_64 random(42);
    std::string const large = (directory.path() / "large.bin").string();
    qm::bench::WriteRandomFile(large, kLargeFileSize, random);
    std::filesystem::create_directory(directory.path() / "small");
    std::vector<std::string> small;
    for (std::size_t i = 0; i < kSmallFileCount; ++i) {
        small.push_back((directory.path() / "small" / ("f" + std::to_string(i))).string());
        qm::bench::WriteRandomFile(small.back(), kSmallFileSize, random);
    }
    std::filesystem::create_directory(directory.path() / "mid");
    std::vector<std::string> mid;
    for (std::size_t i = 0; i < kMidFileCount; ++i) {
        mid.push_back((directory.path() / "mid" / ("f" + std::to_string(i))).string());
        qm::bench::WriteRandomFile(mid.back(), kMidFileSize, random);
    }
    if (!ChecksumsAgree(large)) {  // this also brings the file into the page cache
        throw std::runtime_error("the checksums of " + large + " disagree");
    }
    std::vector<std::uint8_t> memoryBlock(kMemoryBlockSize);
    for (auto& byte : memoryBlock) {
        byte = static_cast<std::uint8_t>(random());
    }

    RegisterLargeFileBenchmarks(large, kLargeFileSize);
    RegisterMemoryBenchmarks(memoryBlock);
    RegisterSmallFileBenchmarks(small);
    RegisterMidSizedFileBenchmarks(mid);
    qm::bench::MedianReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    bool const met = PrintRatios(reporter);
    return met ? 0 : 2;
} catch (std::exception const& problem) {
    std::fprintf(stderr, "%s\n", problem.what());
    return 1;
}
