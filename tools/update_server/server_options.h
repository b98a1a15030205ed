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
};

// The text that --help prints.
std::string_view ServerUsage();

// Reads the arguments after the program name: --root DIR (required unless --help),
// --listen ADDRESS, --delete FILE, --help; "--option=value" is read like "--option value".
Outcome<ServerOptions> ParseServerOptions(std::span<char const* const> arguments);

}  // namespace qm::server
