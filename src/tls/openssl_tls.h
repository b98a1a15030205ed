// TLS with OpenSSL for the socket layer: channels for the updater (which accepts a server only if
// the hash of its public key matches a pin; no certificate authority is consulted) and for the
// reference server (with its key and certificate), and the server's keys and pins. TLS 1.3, or
// 1.2 with forward-secret ciphers only.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "net/secure_channel.h"

namespace qm::tls {

// Channels of a client that accepts only a server whose key matches one of `pins`.
std::shared_ptr<net::SecureChannelFactory> MakePinnedClientFactory(
    std::span<const net::KeyPin> pins);

// Channels of a server with the key and certificate in these PEM files; nothing, with `problem`
// said, when they cannot be used.
std::shared_ptr<net::SecureChannelFactory> MakeServerFactory(
    std::filesystem::path const& key, std::filesystem::path const& certificate,
    std::string& problem);

// The pin of the key in the certificate file; nothing, with `problem` said, when there is none.
std::optional<net::KeyPin> PinOfCertificate(std::filesystem::path const& certificate,
                                            std::string& problem);

// Makes a fresh key (EC P-256) and a self-signed certificate for it, written as PEM files (the
// key readable by its owner only). False, with `problem` said, when that fails.
bool MakeKeyAndCertificate(std::filesystem::path const& key,
                           std::filesystem::path const& certificate, std::string& problem);

}  // namespace qm::tls
