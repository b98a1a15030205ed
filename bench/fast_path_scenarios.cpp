#include "fast_path_scenarios.h"

#include <sys/socket.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <thread>

#include "problem.h"
#include "random_file.h"
#include "streaming_client.h"
#include "support/link_emulator.h"
#include "support/local_sockets.h"
#include "support/temp_dir.h"

namespace qm::bench {
namespace {

constexpr std::uint64_t kStreamSize = 256 * kMiB;
constexpr int kRoundTrips[] = {20, 50};  // ms
// The old walk's downloads ask for this many chunks at a time: the largest window it allows.
std::string const kOldWindow = "WINDOW=256\n";
std::string const kBig = "data/big.bin";

std::chrono::microseconds OneWay(int roundTrip) {
    return std::chrono::microseconds(roundTrip * 500);
}

std::string RoundTripText(int roundTrip) {
    return std::to_string(roundTrip) + " ms round trip";
}

// A release of `count` small files of 200 to 4,000 random bytes, 100 to a directory
// (data/00/00000.dat, ...), and data/big.bin of 1 MiB: all in the list data.ini, after the empty
// quillmesh.ini. The client holds the same small files and another version of data/big.bin.
struct ListSetup {
    std::size_t count;
    fs::path release;
    fs::path client;
    fs::path oldBig;  // the client's version of data/big.bin, put back before each run
};

ListSetup MakeLists(fs::path const& scratch, std::size_t count) {
    std::string const name = std::to_string(count);
    ListSetup setup{count, scratch / ("release-list-" + name), scratch / ("client-list-" + name),
                    scratch / ("old-big-" + name + ".bin")};
    if (fs::exists(setup.release)) {
        return setup;
    }
    std::mt19937_64 random(count);
    char path[64];
    for (std::size_t i = 0; i < count; ++i) {
        std::snprintf(path, sizeof path, "data/%02zu/%05zu.dat", i / 100, i);
        fs::create_directories((setup.release / path).parent_path());
        WriteRandomFile((setup.release / path).string(), 200 + random() % 3801, random);
    }
    WriteRandomFile((setup.release / kBig).string(), kMiB, random);
    WriteRandomFile(setup.oldBig.string(), kMiB, random);
    fs::copy(setup.release, setup.client, fs::copy_options::recursive);
    return setup;
}

// The client as before any run: the old data/big.bin, no record of the lists, upd.ini for the
// link with `extra` settings.
void ResetClient(ListSetup const& setup, std::string const& extra) {
    fs::copy_file(setup.oldBig, setup.client / kBig, fs::copy_options::overwrite_existing);
    fs::remove(setup.client / "crc.ini");
    WriteSettings(setup.client, kLink, extra);
}

struct Walk {
    double seconds;
    long peakKiB;
    test::Bytes sent;  // when the link was asked to keep it
};

// One run through the link to `server` over the lists of `setup`: from the server's announcement
// to the updater's last list request, which acknowledges the last list.
Walk WalkLists(Options const& options, ListSetup const& setup, std::string const& server,
               LinkRun const& how, std::string const& extra = "") {
    ResetClient(setup, extra);
    UpdaterRun run = RunThroughLink(options, setup.client, server, how);
    Figure const took = Between(run.times.announcement, run.times.lastListRequest);
    std::string const what = "walk of the list of " + std::to_string(setup.count);
    Require(run.status == 0 && took, Failed(what, run));
    Require(test::ReadFile(setup.client / kBig) == test::ReadFile(setup.release / kBig),
            what + ": data/big.bin was not updated");
    return {*took, run.peakKiB, std::move(run.sent)};
}

// The peak memory of a run that ends at once (no SERVER, "Configuration error"): what the
// program and the pages of its libraries take before it does anything.
long AloneKiB(Options const& options, fs::path const& scratch) {
    UpdaterRun const run = RunUpdater(options, ClientDirectory(scratch / "client-alone", ""));
    Require(run.status == 2, Failed("run without a server", run));
    return run.peakKiB;
}

}  // namespace

void MeasureLists(Options const& options, fs::path const& scratch, RatioTable& table) {
    for (std::size_t const count : {std::size_t{500}, std::size_t{10000}}) {
        ListSetup const setup = MakeLists(scratch, count);
        auto const fast = StartServer(options, setup.release, kServer);
        auto const old = StartServer(options, setup.release, kOldPathServer, {kNoFastPath});
        // The old walk takes a round trip a file: minutes for 10,000 files, so it runs once.
        int const oldRuns = count > 1000 ? 1 : std::min(options.repetitions, 3);
        for (int const roundTrip : kRoundTrips) {
            LinkRun const link{.oneWay = OneWay(roundTrip)};
            std::vector<double> fastTimes, oldTimes, peaks, alone;
            for (int i = 0; i < options.repetitions; ++i) {
                Walk const quick = WalkLists(options, setup, kServer, link);
                fastTimes.push_back(quick.seconds);
                peaks.push_back(static_cast<double>(quick.peakKiB));
                alone.push_back(static_cast<double>(AloneKiB(options, scratch)));
                if (i < oldRuns) {
                    oldTimes.push_back(
                        WalkLists(options, setup, kOldPathServer, link, kOldWindow).seconds);
                }
                Report(
                    "list of %zu, %d ms, run %d: fast path %.3f s (peak %ld KiB; ending at once "
                    "%.0f KiB), old walk %.3f s",
                    count, roundTrip, i + 1, quick.seconds, quick.peakKiB, alone.back(),
                    i < oldRuns ? oldTimes.back() : 0.0);
            }
            std::string const what = "list of " + std::to_string(count) +
                                     " files, one 1 MiB file changed, " + RoundTripText(roundTrip) +
                                     ": announcement to the last list's Ack, fast path";
            table.Add(what, Median(fastTimes), "the old walk, WINDOW=256", Median(oldTimes), "s", 1,
                      Goal::Informational, 0);
            if (count == 10000 && roundTrip == 20) {
                table.Add("the same, against its target", Median(fastTimes), "3 s", 3.0, "s", 1,
                          Goal::AtMost, 1.0);
                table.Add("peak resident memory, plain mode, the list of 10,000 files, fast path",
                          Median(peaks), "4 MiB", 4096, "KiB", 1, Goal::AtMost, 1.0);
                table.Add("the same", Median(peaks),
                          "a run that ends at once (no SERVER): the program and its libraries",
                          Median(alone), "KiB", 1, Goal::Informational, 0);
            }
        }
    }
}

namespace {

// The minimal streaming client through a fresh link to the server, keeping the data in `keep`:
// from its StreamRequest to its acknowledgement after the flush, as the link sees them.
Figure StreamingClientThroughLink(std::chrono::microseconds oneWay, fs::path const& keep) {
    FrameClock clock;
    test::LinkEmulator const link({kLink, kServer, oneWay, 0, clock.Tap()});
    Sink sink(keep);
    StreamingClient client("big.bin", [&](std::span<const std::uint8_t> data) { sink.Take(data); });
    base::UniqueFd const connection(test::ConnectTo(kLink));
    int const socket = connection.get();
    timeval const patience{30, 0};
    ::setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
    std::vector<std::uint8_t> buffer(1 << 16);
    std::vector<std::uint8_t> replies;
    while (socket >= 0 && !client.finished() && !client.failed()) {
        ssize_t const got = ::recv(socket, buffer.data(), buffer.size(), 0);
        if (got <= 0) {
            break;
        }
        replies.clear();
        client.Receive({buffer.data(), static_cast<std::size_t>(got)}, replies);
        if (!test::SendAll(socket, replies)) {
            break;
        }
    }
    Require(client.finished() && client.dataBytes() == kStreamSize,
            "minimal streaming client: " + client.failure());
    sink.Finish(client.finishedAt());
    Require(test::SendAll(socket, client.Acknowledgement()), "minimal streaming client: lost");
    for (int i = 0; i < 5000 && !clock.times().emptyChunkAck; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return Between(clock.times().firstRequest, clock.times().emptyChunkAck);
}

// The 256 MiB download of a run through the link: from its first request for data (a stream or
// a chunk) to its next message after the empty chunk (the Ack, or the request for the next list
// that acknowledges a list walked by entries).
double DownloadThroughLink(Options const& options, fs::path const& client,
                           std::string const& server, LinkRun const& how, std::string const& what) {
    UpdaterRun const run = RunThroughLink(options, client, server, how);
    Figure const took = Between(run.times.firstRequest, run.times.emptyChunkAck);
    Require(run.status == 0 && took && fs::file_size(client / "big.bin") == kStreamSize,
            Failed(what, run));
    return *took;
}

}  // namespace

void MeasureStreams(Options const& options, fs::path const& scratch, RatioTable& table) {
    fs::path const root = Release(scratch / "release", "big.bin", kStreamSize);
    auto const fast = StartServer(options, root, kServer);
    auto const old = StartServer(options, root, kOldPathServer, {kNoFastPath});
    fs::path const kept = scratch / "streaming-client.bin";
    fs::path const client = scratch / "client-streams";
    double const size = static_cast<double>(kStreamSize);
    for (int const roundTrip : kRoundTrips) {
        LinkRun const link{.oneWay = OneWay(roundTrip)};
        Pairs fastPairs, streamingPairs, oldPairs;
        for (int i = 0; i < options.repetitions; ++i) {
            Figure const raw = StreamThroughLink(link.oneWay, kStreamSize);
            Figure const minimal = StreamingClientThroughLink(link.oneWay, kept);
            fs::remove(kept);
            Require(raw && minimal, "the limits of the stream could not be measured");
            double const quick = DownloadThroughLink(options, ClientDirectory(client, kLink),
                                                     kServer, link, "fast path download");
            double const slow =
                DownloadThroughLink(options, ClientDirectory(client, kLink, kOldWindow),
                                    kOldPathServer, link, "old walk download");
            double const lesser = std::min(*raw, size / *minimal);
            streamingPairs.Add(size / *minimal, *raw, size / *minimal / *raw);
            oldPairs.Add(size / slow, size / quick, quick / slow);
            Report(
                "256 MiB, %d ms, run %d: fast path %.1f MB/s, old walk %.1f MB/s, raw TCP stream "
                "%.1f MB/s, minimal streaming client %.1f MB/s, ratio %.3f",
                roundTrip, i + 1, size / quick / 1e6, size / slow / 1e6, *raw / 1e6,
                size / *minimal / 1e6, fastPairs.Add(size / quick, lesser, size / quick / lesser));
        }
        std::string const what = "256 MiB, " + RoundTripText(roundTrip);
        fastPairs.Rows(table, what + ", fast path: StreamRequest to the Ack after the flush",
                       "the lesser of the raw TCP stream and the minimal streaming client", "MB/s",
                       1e6, Goal::AtLeast, 0.8);
        streamingPairs.Rows(table, what + ", minimal streaming client: writes, flush at the end",
                            "raw TCP stream, same link", "MB/s", 1e6, Goal::Informational, 0);
        oldPairs.Rows(table, what + ", old walk, WINDOW=256", "the fast path", "MB/s", 1e6,
                      Goal::Informational, 0);
    }
}

namespace {

// One way of running the updater against the server that announces nothing; `updater` is the
// build's installed program. The seconds it took, and the bytes it sent when they are compared.
struct OldWalk {
    double seconds;
    std::optional<test::Bytes> sent;
};
struct PreviousCase {
    std::string what;
    std::function<OldWalk(std::string const& updater)> run;
};

std::string FirstDifference(test::Bytes const& ours, test::Bytes const& theirs) {
    auto const [at, _] = std::mismatch(ours.begin(), ours.end(), theirs.begin(), theirs.end());
    return "this build sent " + std::to_string(ours.size()) + " bytes, the previous " +
           std::to_string(theirs.size()) + ", first difference at byte " +
           std::to_string(at - ours.begin());
}

void ComparePrevious(Options const& options, PreviousCase const& comparison, RatioTable& table) {
    std::vector<double> ours, theirs, ratios;
    int same = 0;
    int compared = 0;
    for (int i = 0; i < options.repetitions; ++i) {
        // Alternating which build goes first.
        OldWalk const first =
            comparison.run(i % 2 == 0 ? options.updater : options.previousUpdater);
        OldWalk const second =
            comparison.run(i % 2 == 0 ? options.previousUpdater : options.updater);
        OldWalk const& mine = i % 2 == 0 ? first : second;
        OldWalk const& previous = i % 2 == 0 ? second : first;
        ours.push_back(mine.seconds);
        theirs.push_back(previous.seconds);
        ratios.push_back(previous.seconds / mine.seconds);
        std::string bytes = "not compared";
        if (mine.sent && previous.sent) {
            ++compared;
            bool const equal = *mine.sent == *previous.sent;
            same += equal ? 1 : 0;
            bytes = equal ? "the same " + std::to_string(mine.sent->size()) + " bytes sent"
                          : FirstDifference(*mine.sent, *previous.sent);
        }
        Report("%s, pair %d: this build %.3f s, the previous %.3f s, ratio %.3f; %s",
               comparison.what.c_str(), i + 1, mine.seconds, previous.seconds, ratios.back(),
               bytes.c_str());
    }
    table.Add(comparison.what + ", this build", Median(ours), "the previous build", Median(theirs),
              "s", 1, Goal::Informational, 0);
    table.Add("the same, median of paired ratios (the previous build's time / this build's)",
              Median(ratios), "1", 1.0, "", 1, Goal::AtLeast, 0.95);
    if (compared > 0) {
        table.Add("the same: runs in which this build sent the same bytes as the previous", same,
                  "runs compared", compared, "", 1, Goal::AtLeast, 1.0);
    }
}

}  // namespace

void MeasurePrevious(Options const& options, fs::path const& scratch, RatioTable& table) {
    if (options.previousUpdater.empty()) {
        std::printf(
            "previous: no earlier build given (QM_PREVIOUS_UPDATER_BINARY, or bench/run "
            "--previous=COMMIT): left out\n");
        return;
    }
    ListSetup const lists = MakeLists(scratch, 500);
    fs::path const root = Release(scratch / "release", "big.bin", kStreamSize);
    fs::path const client = scratch / "client-previous";
    LinkRun const link{.oneWay = OneWay(20), .keepSent = true};
    // A server of its own for each run through the link, so that both builds are given the same
    // ids and their bytes can be compared.
    PreviousCase const cases[] = {
        {"list of 500 files, one 1 MiB file changed, 20 ms round trip, WINDOW=256: announcement "
         "to the last list's Ack",
         [&](std::string const& updater) {
             auto const server = StartServer(options, lists.release, kOldPathServer, {kNoFastPath});
             LinkRun how = link;
             how.updater = updater;
             Walk walk = WalkLists(options, lists, kOldPathServer, how, kOldWindow);
             return OldWalk{walk.seconds, std::move(walk.sent)};
         }},
        {"256 MiB, 20 ms round trip, WINDOW=256: first ChunkRequest to the Ack after the empty "
         "chunk",
         [&](std::string const& updater) {
             auto const server = StartServer(options, root, kOldPathServer, {kNoFastPath});
             LinkRun how = link;
             how.updater = updater;
             UpdaterRun run = RunThroughLink(options, ClientDirectory(client, kLink, kOldWindow),
                                             kOldPathServer, how);
             Figure const took = Between(run.times.firstRequest, run.times.emptyChunkAck);
             Require(run.status == 0 && took, Failed("download of the previous comparison", run));
             return OldWalk{*took, std::move(run.sent)};
         }},
    };
    for (PreviousCase const& comparison : cases) {
        ComparePrevious(options, comparison, table);
    }
    // On loopback, stop and wait: where the updater's own work per chunk shows most.
    auto const server = StartServer(options, root, kOldPathServer, {kNoFastPath});
    ComparePrevious(
        options,
        {"256 MiB on loopback, WINDOW=1: status: file: to Operation complete",
         [&](std::string const& updater) {
             UpdaterRun const run =
                 RunUpdater(options, ClientDirectory(client, kOldPathServer), {}, {}, updater);
             return OldWalk{LineInterval(run, "loopback download of the previous comparison"),
                            std::nullopt};
         }},
        table);
}

}  // namespace qm::bench
