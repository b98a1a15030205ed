// The server's log: one line per event on a stream (standard output in the program, for the
// journal when it runs as a service), each line with the time of day, and for a connection the
// client's id and address.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace qm::server {

class ServerLog {
  public:
    explicit ServerLog(std::FILE* out) : out_(out) {}

    void Note(std::string_view text);
    // A problem that stops the server: in the log, and on `alarm` (standard error in the
    // program) for whoever started it from a shell.
    void Fatal(std::string_view text, std::FILE* alarm);

  private:
    std::FILE* out_;
};

// The log as one connection writes to it: every line names the client. A quiet one (a load
// balancer's health check) writes nothing.
class ClientLog {
  public:
    ClientLog(ServerLog& log, std::uint32_t clientId, std::string const& peer, bool quiet = false);

    void Note(std::string_view text);
    // "client ID (PEER): "
    std::string const& label() const { return label_; }
    bool quiet() const { return quiet_; }

  private:
    ServerLog& log_;
    std::string label_;
    bool quiet_;
};

}  // namespace qm::server
