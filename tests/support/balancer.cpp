#include "support/balancer.h"

#include <thread>

#include "support/local_sockets.h"
#include "support/temp_dir.h"

namespace qm::test {

namespace fs = std::filesystem;

Balancer::Balancer(fs::path const& sourceDir, fs::path const& scratch, std::string const& front,
                   std::vector<std::string> const& servers)
    : front_(front) {
    std::vector<std::string> arguments = {(sourceDir / "scripts/lib/balancer-config").string(),
                                          (sourceDir / "packaging/haproxy/quillmesh.cfg").string(),
                                          front};
    arguments.insert(arguments.end(), servers.begin(), servers.end());
    Process rewrite({.argv = arguments});
    rewrite.ExitStatus(Millis(10000));
    fs::path const config = scratch / "haproxy.cfg";
    WriteFile(config, rewrite.Output());
    process_ = std::make_unique<Process>(
        ProcessOptions{.argv = {"/usr/sbin/haproxy", "-f", config.string(), "-db"}});
}

bool Balancer::Ready(Millis timeout) {
    auto const deadline = Clock::now() + timeout;
    while (!Listening(front_)) {
        if (Clock::now() > deadline || !process_->running()) {
            return false;
        }
        std::this_thread::sleep_for(Millis(20));
    }
    return true;
}

}  // namespace qm::test
