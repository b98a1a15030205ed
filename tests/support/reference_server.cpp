#include "support/reference_server.h"

#include <signal.h>

#include <cstdlib>

namespace qm::test {

namespace fs = std::filesystem;

fs::path ReferenceServer::ServerBinary() {
    if (char const* named = std::getenv("QM_SERVER_BINARY"); named != nullptr && *named != 0) {
        return named;
    }
    std::error_code error;
    fs::path const self = fs::read_symlink("/proc/self/exe", error);
    return self.parent_path().parent_path() / "tools" / "quillmesh-update-server";
}

ReferenceServer::ReferenceServer(std::string const& address, fs::path const& release,
                                 std::vector<std::string> const& extraArguments,
                                 fs::path const& binary, std::optional<rlim_t> descriptorLimit)
    : process_([&] {
          ProcessOptions options{
              .argv = {binary.string(), "--root", release.string(), "--listen", address},
              .descriptorLimit = descriptorLimit};
          options.argv.insert(options.argv.end(), extraArguments.begin(), extraArguments.end());
          return options;
      }()) {}

bool ReferenceServer::WaitForLog(std::string_view text, std::size_t times, Millis timeout) {
    return process_.WaitUntil(
        [&](std::string const& log, std::string const&) { return Occurrences(log, text) >= times; },
        timeout);
}

bool ReferenceServer::Rescan() {
    process_.Signal(SIGHUP);
    return WaitForLog("rescanned", ++rescans_, Millis(10000));
}

std::optional<int> ReferenceServer::Stop() {
    if (!status_ && process_.started()) {
        process_.Signal(SIGTERM);
        status_ = process_.ExitStatus(Millis(10000));
        if (!status_ && process_.PollExit()) {
            status_ = process_.PollExit()->status;  // killed after its time ran out
        }
    }
    return status_;
}

}  // namespace qm::test
