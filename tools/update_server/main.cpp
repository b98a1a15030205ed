// quillmesh-update-server: serves a release directory to quillmesh updaters.
#include <cstdio>
#include <span>

#include "update_server/server_options.h"
#include "update_server/server_program.h"

int main(int argc, char** argv) {
    using namespace qm::server;
    std::span<char const* const> const arguments(argv + 1, static_cast<std::size_t>(argc - 1));
    Outcome<ServerOptions> options = ParseServerOptions(arguments);
    if (!options.ok()) {
        std::fprintf(stderr,
                     "quillmesh-update-server: %s\n"
                     "Try 'quillmesh-update-server --help'.\n",
                     options.reason().c_str());
        return kExitBadCommandLine;
    }
    if (options.value().helpWanted) {
        std::fwrite(ServerUsage().data(), 1, ServerUsage().size(), stdout);
        return kExitStopped;
    }
    if (options.value().makeTlsKey) {
        return MakeTlsKey(options.value(), stdout);
    }
    return RunServer(options.value(), stdout);
}
