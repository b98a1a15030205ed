// TLS with Schannel, the system's, for the updater on Windows: channels of a client that accepts
// only a server whose key matches one of its pins, under the rules of the OpenSSL channels of
// Linux (src/tls/openssl_tls.h). Linked into the program: Schannel (secur32, with crypt32 and
// bcrypt) is part of every Windows, and wine has its own.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "net/secure_channel.h"

namespace qm::tls {

// Channels of a client that accepts only a server whose key matches one of `pins`; nothing, with
// `problem` said, when Schannel takes neither form of the credentials.
std::shared_ptr<net::SecureChannelFactory> MakePinnedClientFactory(
    std::span<const net::KeyPin> pins, std::string& problem);

// The pin of the key in a certificate (DER), as the channels compute it of the server's; nothing
// when the certificate cannot be read.
std::optional<net::KeyPin> PinOfCertificate(std::span<const std::uint8_t> der);

}  // namespace qm::tls
