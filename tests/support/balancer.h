// haproxy as the packaged configuration (packaging/haproxy/quillmesh.cfg) runs it, in front of
// servers on loopback addresses: scripts/lib/balancer-config rewrites the file's listen and
// server addresses and its log (to standard output), haproxy runs in the foreground (-db) and is
// stopped with the object. Its log is kept in memory.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "support/process.h"

namespace qm::test {

class Balancer {
  public:
    // `sourceDir` is the project's tree; the rewritten configuration goes to `scratch`.
    Balancer(std::filesystem::path const& sourceDir, std::filesystem::path const& scratch,
             std::string const& front, std::vector<std::string> const& servers);

    // True once haproxy listens on its front address.
    bool Ready(Millis timeout = Millis(10000));
    std::string Log() const { return process_->Output() + process_->ErrorOutput(); }
    Process& process() { return *process_; }

  private:
    std::string front_;
    std::unique_ptr<Process> process_;
};

}  // namespace qm::test
