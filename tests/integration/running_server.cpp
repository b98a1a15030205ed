#include "running_server.h"

#include <csignal>
#include <fstream>
#include <iterator>
#include <thread>

namespace qm::test {

RunningServer::RunningServer(std::filesystem::path const& workDirectory, std::string const& address,
                             std::filesystem::path const& release,
                             std::vector<std::string> extraArguments)
    : logFile_(workDirectory / ("server-" + address + ".log")) {
    std::vector<std::string> argv = {QM_SERVER_BINARY, "--root", release.string(), "--listen",
                                     address};
    argv.insert(argv.end(), extraArguments.begin(), extraArguments.end());
    process_ = std::make_unique<ChildProcess>(
        ChildLaunch{argv, workDirectory, workDirectory / ("server-" + address + ".out"), logFile_});
}

bool RunningServer::Ready() {
    return WaitForLog("listening on", 1, kStartTimeout);
}

std::string RunningServer::Log() const {
    std::ifstream in(logFile_, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

bool RunningServer::WaitForLog(std::string_view text, std::size_t times,
                               std::chrono::milliseconds timeout) {
    auto const deadline = std::chrono::steady_clock::now() + timeout;
    while (CountOf(Log(), text) < times) {
        if (std::chrono::steady_clock::now() >= deadline ||
            process_->WaitFor(std::chrono::milliseconds(0))) {
            return CountOf(Log(), text) >= times;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

bool RunningServer::Rescan() {
    process_->Signal(SIGHUP);
    return WaitForLog("rescanned", ++rescans_, kStartTimeout);
}

std::optional<int> RunningServer::Stop() {
    process_->Signal(SIGTERM);
    return process_->WaitFor(kStartTimeout);
}

std::size_t CountOf(std::string_view haystack, std::string_view text) {
    std::size_t count = 0;
    for (std::size_t at = haystack.find(text); at != std::string_view::npos;
         at = haystack.find(text, at + text.size())) {
        ++count;
    }
    return count;
}

}  // namespace qm::test
