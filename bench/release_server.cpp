#include "release_server.h"

#include <fstream>
#include <sstream>
#include <thread>

namespace qm::bench {

ReleaseServer::ReleaseServer(std::string const& program, std::string const& root,
                             std::string address, std::string const& logPath)
    : address_(std::move(address)) {
    process_ = std::make_unique<ChildProcess>(
        program, std::vector<std::string>{"--root", root, "--listen", address_}, root, -1, logPath);
    if (!process_->started()) {
        problem_ = "cannot start " + program;
        return;
    }
    // The release is scanned (every file checksummed) before the server listens.
    auto const deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < deadline) {
        std::ifstream log(logPath);
        std::stringstream text;
        text << log.rdbuf();
        if (text.str().find("listening on") != std::string::npos) {
            return;
        }
        if (auto exit = process_->Wait(std::chrono::milliseconds(0))) {
            problem_ =
                "the server ended with status " + std::to_string(exit->status) + ": " + text.str();
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    problem_ = "the server did not listen within 60 s";
}

}  // namespace qm::bench
