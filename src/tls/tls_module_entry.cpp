// The entry point of the updater's TLS module: loaded only by a run whose upd.ini pins the
// server's key, so that runs without TLS never map OpenSSL.
#include <span>

#include "net/secure_channel.h"
#include "tls/openssl_tls.h"

namespace qm::tls {
namespace {

net::SecureChannelFactory* MakePinnedClient(net::KeyPin const* pins, std::size_t count) {
    // The factory is handed over to the program, which owns it from now on.
    struct Owned final : net::SecureChannelFactory {
        std::shared_ptr<net::SecureChannelFactory> inner;
        std::unique_ptr<net::SecureChannel> Open(net::SocketHandle socket,
                                                 std::string const& name) override {
            return inner->Open(socket, name);
        }
    };
    auto* owned = new Owned;
    owned->inner = MakePinnedClientFactory(std::span(pins, count));
    return owned;
}

constexpr net::TlsModuleApi kApi{MakePinnedClient};

}  // namespace
}  // namespace qm::tls

extern "C" [[gnu::visibility("default")]] qm::net::TlsModuleApi const* quillmesh_updater_tls_v1() {
    return &qm::tls::kApi;
}
