// The reference update server serving a release directory on one loopback address, for as long
// as the object lives.
#pragma once

#include <memory>
#include <string>

#include "child_process.h"

namespace qm::bench {

class ReleaseServer {
  public:
    // Starts the server and waits until it listens; `logPath` receives its log.
    ReleaseServer(std::string const& program, std::string const& root, std::string address,
                  std::string const& logPath);

    // Empty when the server listens; otherwise why not.
    std::string const& problem() const { return problem_; }
    std::string const& address() const { return address_; }
    double CpuSecondsSoFar() const { return process_->CpuSecondsSoFar(); }

  private:
    std::string address_;
    std::string problem_;
    std::unique_ptr<ChildProcess> process_;
};

}  // namespace qm::bench
