#include "app/tls_module.h"

#include <string>

#include "app/program_module.h"

namespace qm::app {

std::shared_ptr<net::SecureChannelFactory> LoadPinnedTls(std::span<const net::KeyPin> pins,
                                                         std::FILE* notes) {
    std::string reason;
    auto const* api = static_cast<net::TlsModuleApi const*>(OpenProgramModule(
        ProgramModulePath(ModuleFileName(kTlsModuleName)), net::kTlsModuleSymbol, reason));
    if (api == nullptr) {
        std::fprintf(notes, "quillmesh-updater: no TLS (%s)\n", reason.c_str());
        return nullptr;
    }
    return std::shared_ptr<net::SecureChannelFactory>(
        api->makePinnedClientFactory(pins.data(), pins.size()));
}

}  // namespace qm::app
