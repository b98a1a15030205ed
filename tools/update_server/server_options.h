// The command line of quillmesh-update-server.
#pragma once

#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "update_server/outcome.h"
#include "update_server/server_limits.h"

namespace qm::server {

inline constexpr char kDefaultListenAddress[] = "127.0.0.1";

struct ServerOptions {
    bool helpWanted = false;
    std::filesystem::path root;
    // Every address to listen on, in the order given; 127.0.0.1 when none is given.
    std::vector<std::string> listenAddresses;
    std::optional<std::filesystem::path> deletionFile;
    // TLS: the server's key and certificate (PEM), both or neither.
    std::optional<std::filesystem::path> tlsKey;
    std::optional<std::filesystem::path> tlsCertificate;
    // Make a fresh key and certificate at those paths, print their pin and stop.
    bool makeTlsKey = false;
    ServerLimits limits;
    // Every connection starts with a PROXY protocol version 2 header (a load balancer's).
    bool proxyProtocol = false;
    // Announce nothing beyond the protocol every updater knows.
    bool noFastPath = false;
};

// The text that --help prints.
std::string_view ServerUsage();

// Reads the arguments after the program name: --root DIR (required unless --help or
// --make-tls-key), --listen ADDRESS (any number of times), --delete FILE, --tls-key FILE,
// --tls-certificate FILE, --max-clients N|auto, --max-per-address N, --idle-limit SECONDS,
// --drain-limit SECONDS, --proxy-protocol, --no-fast-path, --make-tls-key, --help; "--option=value"
// is read like
// "--option value".
Outcome<ServerOptions> ParseServerOptions(std::span<char const* const> arguments);

}  // namespace qm::server
