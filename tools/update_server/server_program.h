// The server program once its command line is read: loads the release, listens, serves until a
// stop signal, and rescans the release on SIGHUP.
#pragma once

#include <cstdio>

#include "update_server/server_options.h"

namespace qm::server {

// Exit statuses of the program.
inline constexpr int kExitStopped = 0;
inline constexpr int kExitCannotServe = 1;
inline constexpr int kExitBadCommandLine = 2;

// Runs the server with `log` as its log stream; returns the exit status.
int RunServer(ServerOptions const& options, std::FILE* log);

// --make-tls-key: makes the key and certificate, prints the pin on `out`.
int MakeTlsKey(ServerOptions const& options, std::FILE* out);

}  // namespace qm::server
