// quillmesh-updater: brings the quillmesh client program in the current directory up to date
// from its update server, then starts it again.
#include <cstdio>
#include <cstring>
#include <utility>

#include "app/update_app.h"
#ifdef QM_WITH_WINDOW
#include "app/unix/window_plugin.h"
#endif

namespace {

constexpr char kUsage[] =
    "Usage: quillmesh-updater [--help | --version]\n"
    "\n"
    "Run it in the directory of the quillmesh client program. It reads the server address\n"
    "(SERVER) and the client's command line (EXE) from section [GENERAL] of ./upd.ini, brings\n"
    "the client's files up to date from the update server on TCP port 34005, records list\n"
    "checksums in ./crc.ini, and finally starts EXE with the argument UPDATED.\n"
    "\n"
    "Exit status: 0 completed, 1 completed with errors, 2 configuration error, 3 network\n"
    "failure, 4 disk access error, 5 cancelled, 6 completed but EXE could not be started,\n"
    "7 another update is running in this directory.\n";

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1) {
        if (std::strcmp(argv[1], "--help") == 0 && argc == 2) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (std::strcmp(argv[1], "--version") == 0 && argc == 2) {
            std::printf("quillmesh-updater %s\n", QM_VERSION);
            return 0;
        }
        std::fprintf(stderr, "quillmesh-updater: unknown option '%s'\n\n%s", argv[1], kUsage);
        return 2;
    }
    qm::app::FrontEndFactory window;
#ifdef QM_WITH_WINDOW
    window = qm::app::LoadWindowFrontEnd(stderr);
#endif
    return static_cast<int>(qm::app::RunUpdate(qm::app::ChooseFrontEnd(std::move(window))));
}
