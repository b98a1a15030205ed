#include "updater_run.h"

#include <poll.h>
#include <unistd.h>

#include <array>
#include <filesystem>
#include <fstream>

namespace qm::bench {

std::optional<UpdaterRun::Clock::time_point> UpdaterRun::FirstLine(std::string const& prefix,
                                                                   std::string const& part) const {
    for (Line const& line : lines) {
        if (line.text.starts_with(prefix) && line.text.find(part) != std::string::npos) {
            return line.at;
        }
    }
    return std::nullopt;
}

UpdaterRun RunUpdater(std::string const& program, std::string const& peakProbe,
                      std::string const& directory, std::string const& serverAddress,
                      std::chrono::seconds timeout) {
    UpdaterRun run;
    std::ofstream(directory + "/upd.ini") << "[GENERAL]\nSERVER=" << serverAddress << "\n";
    int output[2];
    if (::pipe(output) != 0) {
        run.problem = "pipe";
        return run;
    }
    std::string const report = directory + "/.peak-resident-kib";
    ChildProcess updater(peakProbe, {report, program}, directory, output[1], "");
    ::close(output[1]);
    run.startedAt = updater.startedAt();
    auto const deadline = run.startedAt + timeout;
    std::string partial;
    std::array<char, 4096> buffer;
    for (;;) {
        pollfd readable{output[0], POLLIN, 0};
        if (UpdaterRun::Clock::now() > deadline) {
            run.problem = "the updater did not end in time";
            break;
        }
        if (::poll(&readable, 1, 200) <= 0) {
            continue;
        }
        ssize_t const got = ::read(output[0], buffer.data(), buffer.size());
        if (got <= 0) {
            break;  // the updater closed its output: it is ending
        }
        auto const now = UpdaterRun::Clock::now();
        partial.append(buffer.data(), static_cast<std::size_t>(got));
        for (std::size_t end = partial.find('\n'); end != std::string::npos;
             end = partial.find('\n')) {
            run.lines.push_back({now, partial.substr(0, end)});
            partial.erase(0, end + 1);
        }
    }
    ::close(output[0]);
    if (auto exit = run.problem.empty() ? updater.Wait(std::chrono::seconds(30)) : updater.Stop()) {
        run.exit = *exit;
    } else if (run.problem.empty()) {
        run.problem = "the updater did not exit";
    }
    run.endedAt = UpdaterRun::Clock::now();
    std::ifstream peak(report);
    if (!(peak >> run.exit.peakResidentKiB) && run.problem.empty()) {
        run.problem = "no peak memory from " + peakProbe;
    }
    std::filesystem::remove(report);
    return run;
}

}  // namespace qm::bench
