#include "app/tls_module.h"

#include <string>

#include "tls/win/schannel_tls.h"

namespace qm::app {

// Schannel is part of the system and linked into the program: nothing is loaded here.
std::shared_ptr<net::SecureChannelFactory> LoadPinnedTls(std::span<const net::KeyPin> pins,
                                                         std::FILE* notes) {
    std::string problem;
    std::shared_ptr<net::SecureChannelFactory> factory =
        tls::MakePinnedClientFactory(pins, problem);
    if (!factory) {
        std::fprintf(notes, "quillmesh-updater: no TLS (%s)\n", problem.c_str());
    }
    return factory;
}

}  // namespace qm::app
