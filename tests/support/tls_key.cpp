#include "support/tls_key.h"

#include "support/process.h"
#include "support/reference_server.h"

namespace qm::test {

namespace fs = std::filesystem;

TlsKey::TlsKey(fs::path const& directory, std::string const& name)
    : key(directory / (name + ".key")), certificate(directory / (name + ".crt")) {
    Process maker({.argv = {ReferenceServer::ServerBinary().string(), "--make-tls-key", "--tls-key",
                            key.string(), "--tls-certificate", certificate.string()}});
    if (maker.ExitStatus() == 0) {
        pin = maker.Output().substr(0, maker.Output().find('\n'));
    }
}

std::vector<std::string> TlsKey::ServerArguments() const {
    return {"--tls-key", key.string(), "--tls-certificate", certificate.string()};
}

}  // namespace qm::test
