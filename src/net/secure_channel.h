// TLS on a connected non-blocking socket, as the socket layer drives it from the event loop. The
// implementation (OpenSSL) lives in its own library, src/tls; nothing above the socket layer knows
// whether a connection is protected.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "net/socket_handle.h"

namespace qm::net {

// The SHA-256 of a server's public key (its SubjectPublicKeyInfo, DER).
using KeyPin = std::array<std::uint8_t, 32>;

// The error a connect ends with when the TLS handshake failed, was not finished in time, or the
// server's key matched no pin.
// Its number is Linux's EKEYREJECTED, which no connect of either platform ends with otherwise.
inline constexpr int kServerNotVerified = 129;

// A handshake must be finished within this time, whatever else the run allows.
inline constexpr std::chrono::seconds kHandshakeLimit{10};

class SecureChannel {
  public:
    enum class Progress { Done, WantRead, WantWrite, Failed };

    virtual ~SecureChannel() = default;

    // Takes the handshake as far as the socket allows: Done once it is complete (and the server
    // verified, on the client's side); WantRead or WantWrite to be called again when the socket is
    // ready so; Failed for good.
    virtual Progress Handshake() = 0;

    // Decrypted bytes into `into`: their count; or 0 with `progress` saying why: WantRead or
    // WantWrite (nothing now), Done (the peer closed), Failed.
    virtual long Read(std::span<std::uint8_t> into, Progress& progress) = 0;

    // Encrypts and sends what the socket takes: the count of bytes taken; or 0 with `progress`
    // WantRead or WantWrite (nothing now), or Failed.
    virtual long Write(std::span<const std::uint8_t> bytes, Progress& progress) = 0;

    // Decrypted bytes wait inside the channel, where poll cannot see them.
    virtual bool HasBuffered() const = 0;
};

class SecureChannelFactory {
  public:
    virtual ~SecureChannelFactory() = default;
    // A channel on `socket`, client or server as the factory was made; `serverName` is the name
    // the client connected to (empty for an address).
    virtual std::unique_ptr<SecureChannel> Open(SocketHandle socket,
                                                std::string const& serverName) = 0;
};

// What the updater's TLS module (a library of its own, loaded only for a run with pins) exports,
// under kTlsModuleSymbol: the channels of a client that accepts only a server whose key matches
// one of the pins. The caller owns the factory.
inline constexpr char kTlsModuleSymbol[] = "quillmesh_updater_tls_v1";
struct TlsModuleApi {
    SecureChannelFactory* (*makePinnedClientFactory)(KeyPin const* pins, std::size_t count);
};

}  // namespace qm::net
