// The command line of quillmesh-update-server.
#pragma once

#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "update_server/outcome.h"

namespace qm::server {

struct ServerOptions {
    bool helpWanted = false;
    std::filesystem::path root;
    std::string listenAddress = "127.0.0.1";
    std::optional<std::filesystem::path> deletionFile;
    // TLS: the server's key and certificate (PEM), both or neither.
    std::optional<std::filesystem::path> tlsKey;
    std::optional<std::filesystem::path> tlsCertificate;
    // Make a fresh key and certificate at those paths, print their pin and stop.
    bool makeTlsKey = false;
};

// The text that --help prints.
std::string_view ServerUsage();

// Reads the arguments after the program name: --root DIR (required unless --help or
// --make-tls-key), --listen ADDRESS, --delete FILE, --tls-key FILE, --tls-certificate FILE,
// --make-tls-key, --help; "--option=value" is read like "--option value".
Outcome<ServerOptions> ParseServerOptions(std::span<char const* const> arguments);

}  // namespace qm::server
