#include "faults/crash_sweep.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <functional>
#include <iostream>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "support/power_cut.h"
#include "support/process.h"
#include "support/profile_text.h"
#include "support/reference_server.h"
#include "support/release.h"
#include "support/syscall_trace.h"
#include "support/temp_dir.h"

namespace qm::test {
namespace fs = std::filesystem;

namespace {

constexpr char kStrace[] = "/usr/bin/strace";
constexpr int kKilled = 128 + 9;
constexpr int kNetworkFailure = 3;
constexpr Millis kRunLimit(120'000);

void Require(bool good, std::string const& what) {
    if (!good) {
        throw std::runtime_error(what);
    }
}

// The updater's own files: downloads, partial, staged, the journal and temporary records.
bool IsUpdatersOwn(std::string const& name) {
    return name.starts_with(".quillmesh-") || name.starts_with(".crc.ini.");
}

// What the client program sees of a client directory: every file but the updater's own, upd.ini
// and crc.ini (with permission bits), and the list records of crc.ini.
struct Version {
    std::map<std::string, std::string> files;
    std::map<std::string, std::string> records;
    bool operator==(Version const&) const = default;
};

Version VersionOf(fs::path const& directory) {
    Version version;
    for (auto it = fs::recursive_directory_iterator(directory);
         it != fs::recursive_directory_iterator(); ++it) {
        std::string const relative = it->path().lexically_relative(directory).generic_string();
        if (it->is_symlink() || !it->is_regular_file() ||
            IsUpdatersOwn(it->path().filename().string()) || relative == "upd.ini" ||
            relative == "crc.ini") {
            continue;
        }
        struct stat status {};
        ::lstat(it->path().c_str(), &status);
        version.files[relative] =
            std::to_string(status.st_mode & 07777) + ":" + ReadFile(it->path());
    }
    if (std::optional<std::string> const record = ReadIfPresent(directory / "crc.ini")) {
        auto const entries = ParseChecksumRecord(*record);
        version.records =
            entries ? *entries : std::map<std::string, std::string>{{"(not well-formed)", *record}};
    }
    return version;
}

// The first way `have` differs from `want`, in words.
std::string FirstDifference(Version const& have, Version const& want) {
    for (auto const& [path, content] : want.files) {
        auto const found = have.files.find(path);
        if (found == have.files.end()) {
            return "lacks " + path;
        }
        if (found->second != content) {
            return path + " differs";
        }
    }
    for (auto const& [path, content] : have.files) {
        if (!want.files.contains(path)) {
            return "has " + path;
        }
    }
    for (auto const& [list, value] : want.records) {
        auto const found = have.records.find(list);
        if (found == have.records.end() || found->second != value) {
            return "crc.ini records " + list + "=" +
                   (found == have.records.end() ? "nothing" : found->second) + ", not " + value;
        }
    }
    return have.records.size() != want.records.size() ? "crc.ini records other lists" : "";
}

std::vector<std::string> UpdatersOwnFiles(fs::path const& directory) {
    std::vector<std::string> found;
    for (auto const& entry : fs::recursive_directory_iterator(directory)) {
        if (IsUpdatersOwn(entry.path().filename().string())) {
            found.push_back(entry.path().lexically_relative(directory).string());
        }
    }
    return found;
}

void CopyTree(fs::path const& from, fs::path const& to) {
    fs::copy(from, to, fs::copy_options::recursive);
}

mode_t CurrentUmask() {
    mode_t const mask = ::umask(0);
    ::umask(mask);
    return mask;
}

// The updater in `directory` under strace, with its calls filtered to the ones a sweep counts.
ProcessOptions Traced(fs::path const& directory, std::vector<std::string> const& extra) {
    ProcessOptions options = UpdaterOptions(directory);
    std::vector<std::string> argv = {kStrace, "-f", "-e", "trace=" + TracedFileCalls()};
    argv.insert(argv.end(), extra.begin(), extra.end());
    argv.insert(argv.end(), options.argv.begin(), options.argv.end());
    options.argv = std::move(argv);
    // In a sanitizer build the leak check at exit stops the program with ptrace, which strace
    // holds already: it is left to the runs without strace.
    char const* const sanitizer = std::getenv("ASAN_OPTIONS");
    options.environment["ASAN_OPTIONS"] =
        (sanitizer != nullptr && *sanitizer != '\0' ? std::string(sanitizer) + ":" : "") +
        "detect_leaks=0";
    return options;
}

enum class Outcome { Old, New, Mixed };

struct PointResult {
    Outcome outcome = Outcome::Mixed;
    bool missed = false;
    std::string fault;  // what went wrong, when something did
};

// The paths a call names, relative to the run's directory where they lie inside it.
std::string Described(TracedCall const& call, fs::path const& root) {
    auto const shown = [&](std::string const& path) {
        fs::path const relative = fs::path(path).lexically_relative(root);
        return relative.empty() || relative.begin()->string() == ".." ? path : relative.string();
    };
    std::string text = call.name;
    if (!call.resultPath.empty()) {
        return text + " " + shown(call.resultPath);
    }
    for (std::size_t i = 0; i < call.arguments.size() && i < 4; ++i) {
        if (std::optional<std::string> const path = call.DescriptorPath(i)) {
            if (!call.String(i + 1)) {
                text += " " + shown(*path);
            }
        } else if (std::optional<std::string> const name = call.String(i)) {
            text += " " + (call.name.starts_with("write") ? std::to_string(name->size()) + " bytes"
                                                          : *name);
        }
    }
    return text;
}

}  // namespace

struct CrashSweep::State {
    struct Step {
        std::size_t call;  // index in `calls`
        std::string name;
        int ordinal;  // among the main process's calls of this name, from 1
        std::string text;
        bool commit;
    };

    CrashSweepAddresses addresses;
    TempDir work{{.enter = false, .prefix = "qm-crash-sweep"}};
    Release release = TwoHundredFileRelease();
    fs::path start;   // the starting tree, wholly old
    fs::path traced;  // where the clean run ran
    std::unique_ptr<ReferenceServer> server;
    Version oldVersion;
    Version newVersion;
    std::vector<TracedCall> calls;
    std::vector<Step> steps;
    std::atomic<int> directories{0};

    fs::path FreshDirectory(std::string const& kind) {
        return work.path() / (kind + "-" + std::to_string(++directories));
    }

    void MakeStartingTree() {
        fs::path const oldRelease = work.path() / "old-release";
        release.WriteOldServed(oldRelease);
        ReferenceServer old(addresses.oldServer, oldRelease);
        Require(old.Ready(), "the old release's server did not start: " + old.Log());
        release.MakeOutdated(start);
        WriteUpdaterConfig(start, addresses.oldServer);
        Process run(UpdaterOptions(start));
        Require(run.ExitStatus(kRunLimit) == 0,
                "the run to the old release failed: " + run.Transcript());
        WriteUpdaterConfig(start, addresses.newServer);
        AddUpdaterSettings(start, "APPLY=run\n");
        oldVersion = VersionOf(start);
        Require(oldVersion.records.size() == 3, "the old tree records no three lists");
    }

    void TraceCleanRun() {
        fs::path const log = work.path() / "clean.trace";
        CopyTree(start, traced);
        Process run(Traced(traced, {"-y", "-xx", "-s", "4194304", "-o", log.string()}));
        Require(run.ExitStatus(kRunLimit) == 0, "the clean run failed: " + run.Transcript());
        newVersion = VersionOf(traced);
        Require(release.Differences(traced).empty() && newVersion.records.size() == 3 &&
                    newVersion.records != oldVersion.records,
                "the clean run did not bring the new release");
        calls = ReadSyscallTrace(ReadFile(log));
        Require(!calls.empty(), "the trace is empty");
    }

    // The steps: the main process's calls that change the client directory or flush part of it;
    // those after its last send are the commit's.
    void FindSteps() {
        pid_t const main = calls.front().pid;
        std::size_t lastSend = 0;
        for (std::size_t i = 0; i < calls.size(); ++i) {
            if (calls[i].pid == main && !calls[i].failed() &&
                (calls[i].name == "sendto" || calls[i].name == "sendmsg")) {
                lastSend = i;
            }
        }
        Require(lastSend > 0, "the clean run sent nothing");
        PowerCutReplay replay(start, traced, CurrentUmask());
        std::map<std::string, int> ordinals;
        for (std::size_t i = 0; i < calls.size(); ++i) {
            TracedCall const& call = calls[i];
            int const ordinal = call.pid == main ? ++ordinals[call.name] : 0;
            if (!replay.Apply(call)) {
                continue;
            }
            Require(call.pid == main, "a thread changed the files: " + Described(call, traced));
            steps.push_back({i, call.name, ordinal, Described(call, traced), i > lastSend});
        }
    }

    PointResult Recover(fs::path const& directory) {
        WriteUpdaterConfig(directory, addresses.unreachable);
        AddUpdaterSettings(directory, "APPLY=run\n");
        Process run(UpdaterOptions(directory));
        std::optional<int> const status = run.ExitStatus(kRunLimit);
        Version const version = VersionOf(directory);
        PointResult result;
        if (version == oldVersion) {
            result.outcome = Outcome::Old;
        } else if (version == newVersion) {
            result.outcome = Outcome::New;
        } else {
            result.fault = "mixed: against the old version " +
                           FirstDifference(version, oldVersion) + "; against the new " +
                           FirstDifference(version, newVersion);
        }
        if (status != kNetworkFailure) {
            result.fault += " the run without a server ended with status " +
                            std::to_string(status.value_or(-1)) + ": " + run.Transcript();
        }
        return result;
    }

    PointResult KillAt(Step const& step, bool completeAfterwards) {
        fs::path const directory = FreshDirectory("kill");
        fs::path const log = directory.string() + ".trace";
        CopyTree(start, directory);
        std::string const inject =
            "inject=" + step.name + ":signal=KILL:when=" + std::to_string(step.ordinal);
        Process run(Traced(directory, {"-y", "-xx", "-s", "64", "-o", log.string(), "-e", inject}));
        std::optional<int> const status = run.ExitStatus(kRunLimit);
        PointResult result;
        // The kill lands on entry: the call stands last in the log, without a result.
        std::vector<TracedCall> const done = ReadSyscallTrace(ReadFile(log));
        long const reached = std::count_if(done.begin(), done.end(), [&](TracedCall const& c) {
            return c.pid == done.front().pid && c.name == step.name;
        });
        bool const endedThere =
            !done.empty() && done.back().name == step.name && done.back().error == "?";
        if (status != kKilled || reached != step.ordinal || !endedThere) {
            result.missed = true;
            result.fault = "the kill before " + step.text + " missed: status " +
                           std::to_string(status.value_or(-1)) + ", call " +
                           std::to_string(reached) + " of " + step.name + ", not " +
                           std::to_string(step.ordinal);
        } else {
            result = Recover(directory);
        }
        if (completeAfterwards && !result.missed) {
            WriteUpdaterConfig(directory, addresses.newServer);
            AddUpdaterSettings(directory, "APPLY=run\n");
            Process next(UpdaterOptions(directory));
            std::optional<int> const ended = next.ExitStatus(kRunLimit);
            std::vector<std::string> const left = UpdatersOwnFiles(directory);
            if (ended != 0 || !(VersionOf(directory) == newVersion) || !left.empty()) {
                result.fault += " the next run with the server did not complete cleanly (status " +
                                std::to_string(ended.value_or(-1)) + ", " +
                                (left.empty() ? std::string("nothing") : left.front()) +
                                " left): " + next.Transcript();
            }
        }
        RemoveTree(directory);
        fs::remove(log);
        return result;
    }

    // The steps a choice takes: every stride-th of the commit (its last one always), and random
    // ones before it.
    std::vector<std::size_t> Chosen(SweepChoice const& choice) const {
        std::vector<std::size_t> commit;
        std::vector<std::size_t> before;
        for (std::size_t i = 0; i < steps.size(); ++i) {
            (steps[i].commit ? commit : before).push_back(i);
        }
        std::vector<std::size_t> chosen;
        for (std::size_t i = 0; i < commit.size(); ++i) {
            if (i % std::max<std::size_t>(choice.commitStride, 1) == 0 || i + 1 == commit.size()) {
                chosen.push_back(commit[i]);
            }
        }
        std::mt19937 random(choice.seed);
        std::shuffle(before.begin(), before.end(), random);
        before.resize(std::min(before.size(), choice.downloadPoints));
        chosen.insert(chosen.end(), before.begin(), before.end());
        std::sort(chosen.begin(), chosen.end());
        return chosen;
    }
};

namespace {

void Tally(SweepRow& row, PointResult const& result, std::string const& where) {
    ++row.points;
    if (result.missed) {
        ++row.missed;
    } else if (result.outcome == Outcome::Old) {
        ++row.old;
    } else if (result.outcome == Outcome::New) {
        ++row.fresh;
    } else {
        ++row.mixed;
    }
    if (!result.fault.empty()) {
        row.faults.push_back(where + ": " + result.fault);
    }
}

// Runs `work(i)` for i in [0, count) on `lanes` threads.
void InLanes(int lanes, std::size_t count, std::function<void(std::size_t)> const& work) {
    std::atomic<std::size_t> next{0};
    std::vector<std::thread> threads;
    for (int lane = 0; lane < std::max(lanes, 1); ++lane) {
        threads.emplace_back([&] {
            for (std::size_t i = next++; i < count; i = next++) {
                work(i);
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
}

}  // namespace

CrashSweep::CrashSweep(CrashSweepAddresses addresses) : state_(new State) {
    state_->addresses = std::move(addresses);
    state_->start = state_->work.path() / "start";
    state_->traced = state_->work.path() / "traced";
    state_->MakeStartingTree();
    fs::path const newRelease = state_->work.path() / "new-release";
    fs::path const deletions = state_->work.path() / "deletions.txt";
    state_->release.WriteServed(newRelease, deletions);
    state_->server =
        std::make_unique<ReferenceServer>(state_->addresses.newServer, newRelease,
                                          std::vector<std::string>{"--delete", deletions.string()});
    Require(state_->server->Ready(),
            "the new release's server did not start: " + state_->server->Log());
    state_->TraceCleanRun();
    state_->FindSteps();
}

CrashSweep::~CrashSweep() = default;

std::size_t CrashSweep::commitSteps() const {
    return static_cast<std::size_t>(std::count_if(state_->steps.begin(), state_->steps.end(),
                                                  [](auto const& step) { return step.commit; }));
}

std::size_t CrashSweep::downloadSteps() const {
    return state_->steps.size() - commitSteps();
}

std::vector<std::string> CrashSweep::CommitStepLines() const {
    std::vector<std::string> lines;
    for (State::Step const& step : state_->steps) {
        if (step.commit) {
            lines.push_back(step.text);
        }
    }
    return lines;
}

std::vector<SweepRow> CrashSweep::Kill(SweepChoice const& choice) {
    std::vector<std::size_t> const chosen = state_->Chosen(choice);
    std::vector<PointResult> results(chosen.size());
    InLanes(choice.lanes, chosen.size(), [&](std::size_t i) {
        try {
            results[i] = state_->KillAt(state_->steps[chosen[i]], choice.completeAfterwards);
        } catch (std::exception const& problem) {
            results[i].fault = problem.what();
        }
    });
    std::vector<SweepRow> rows{{.what = "SIGKILL at a step of the commit"},
                               {.what = "SIGKILL at a step before the completion (downloads)"}};
    for (std::size_t i = 0; i < chosen.size(); ++i) {
        State::Step const& step = state_->steps[chosen[i]];
        Tally(rows[step.commit ? 0 : 1], results[i], "before " + step.text);
    }
    return rows;
}

std::vector<SweepRow> CrashSweep::Cut(SweepChoice const& choice) {
    std::vector<std::size_t> const chosen = state_->Chosen(choice);
    std::set<std::size_t> const wanted(chosen.begin(), chosen.end());
    char const* const losses[] = {"all unflushed lost", "nothing lost", "random tails"};
    struct CutPoint {
        std::size_t row;
        std::uint64_t digest;
        std::string where;
    };
    std::vector<CutPoint> cuts;
    std::map<std::uint64_t, PointResult> results;
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<std::pair<std::uint64_t, TreeImage>> queue;
    bool finished = false;
    std::vector<std::thread> lanes;
    for (int lane = 0; lane < std::max(choice.lanes, 1); ++lane) {
        lanes.emplace_back([&] {
            for (;;) {
                std::unique_lock lock(mutex);
                changed.wait(lock, [&] { return finished || !queue.empty(); });
                if (queue.empty()) {
                    return;
                }
                auto [digest, image] = std::move(queue.front());
                queue.pop_front();
                changed.notify_all();
                lock.unlock();
                PointResult result;
                fs::path const directory = state_->FreshDirectory("cut");
                try {
                    WriteImage(image, directory);
                    result = state_->Recover(directory);
                } catch (std::exception const& problem) {
                    result.fault = problem.what();
                }
                RemoveTree(directory);
                lock.lock();
                results[digest] = result;
            }
        });
    }
    PowerCutReplay replay(state_->start, state_->traced, CurrentUmask());
    std::mt19937 random(choice.seed);
    auto const cutHere = [&](std::size_t step) {
        bool const commit = step >= state_->steps.size() || state_->steps[step].commit;
        std::string const where = step < state_->steps.size() ? "before " + state_->steps[step].text
                                                              : std::string("after the last step");
        std::vector<PowerCutLoss> kinds = {PowerCutLoss::AllUnflushed, PowerCutLoss::NothingLost};
        kinds.insert(kinds.end(), static_cast<std::size_t>(std::max(choice.randomDraws, 0)),
                     PowerCutLoss::RandomTails);
        for (PowerCutLoss const loss : kinds) {
            TreeImage image = replay.AfterCut(loss, random);
            std::uint64_t const digest = ImageDigest(image);
            std::size_t const row = (commit ? 0 : 3) + static_cast<std::size_t>(loss);
            cuts.push_back({row, digest, where + " (" + losses[static_cast<int>(loss)] + ")"});
            std::unique_lock lock(mutex);
            if (results.try_emplace(digest).second) {
                changed.wait(lock, [&] { return queue.size() < 2 * lanes.size(); });
                queue.emplace_back(digest, std::move(image));
                changed.notify_all();
            }
        }
    };
    std::size_t step = 0;
    for (std::size_t i = 0; i < state_->calls.size(); ++i) {
        if (step < state_->steps.size() && state_->steps[step].call == i) {
            if (wanted.contains(step)) {
                cutHere(step);
            }
            ++step;
        }
        replay.Apply(state_->calls[i]);
    }
    cutHere(state_->steps.size());
    {
        std::lock_guard lock(mutex);
        finished = true;
    }
    changed.notify_all();
    for (std::thread& lane : lanes) {
        lane.join();
    }
    std::vector<SweepRow> rows;
    for (char const* phase : {"Power cut before a step of the commit",
                              "Power cut before a step "
                              "before the completion"}) {
        for (char const* loss : losses) {
            rows.push_back({.what = std::string(phase) + ", " + loss});
        }
    }
    for (CutPoint const& cut : cuts) {
        Tally(rows[cut.row], results[cut.digest], cut.where);
    }
    return rows;
}

std::string SweepTable(std::vector<SweepRow> const& rows) {
    std::ostringstream table;
    table << "| Points | Taken | Wholly old | Wholly new | Mixed | Missed |\n"
          << "|---|---|---|---|---|---|\n";
    for (SweepRow const& row : rows) {
        table << "| " << row.what << " | " << row.points << " | " << row.old << " | " << row.fresh
              << " | " << row.mixed << " | " << row.missed << " |\n";
    }
    return table.str();
}

void ExpectWhollyOldOrNew(std::vector<SweepRow> const& rows) {
    std::cout << SweepTable(rows);
    for (SweepRow const& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(row.mixed, 0);
        EXPECT_EQ(row.missed, 0);
        for (std::string const& fault : row.faults) {
            ADD_FAILURE() << fault;
        }
    }
}

}  // namespace qm::test
