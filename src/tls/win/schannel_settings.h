// What the updater asks of Schannel, and what it accepts of what Schannel negotiated: plain values
// and pure functions, so that tests check them without a handshake (wine's Schannel, built on
// GnuTLS, ignores much of what is asked here and checks no certificate at all; a run under wine
// cannot show that a flag is missing).
//
// The rules are Linux's (src/tls/openssl_tls.cpp): TLS 1.2 with forward-secret AEAD ciphers
// (ECDHE with AES-GCM or ChaCha20-Poly1305), or TLS 1.3 where the system offers it; the server's
// certificate is checked by nobody but the pin (no chain, no name, no revocation lookup).
#pragma once

#include <cstdint>

#include "tls/win/sspi.h"

namespace qm::tls::win {

// The credentials given to AcquireCredentialsHandleW. Windows 10 1809 and later take the current
// form, SCH_CREDENTIALS: TLS 1.2 and 1.3 only, with the ciphers that are not forward-secret AEAD
// disabled. A system that refuses it is given the older form, SCHANNEL_CRED, which can name
// TLS 1.2 alone and cannot disable a chaining mode: there AcceptableConnection does that part.
// The structures point into the object itself, which therefore neither copies nor moves.
class ClientCredentials {
  public:
    enum class Form { Current, Older };

    explicit ClientCredentials(Form form);
    ClientCredentials(ClientCredentials const&) = delete;
    ClientCredentials& operator=(ClientCredentials const&) = delete;

    Form form() const { return form_; }
    // What AcquireCredentialsHandleW takes as its authentication data.
    void* AuthData();

    SCH_CREDENTIALS const& current() const { return current_; }
    SCHANNEL_CRED const& older() const { return older_; }

  private:
    // Key exchanges without forward secrecy (RSA) or other than ECDHE (DH); AES in CBC mode; DES,
    // 3DES and RC4.
    static constexpr int kDisabledCount = 6;

    Form form_;
    SCH_CREDENTIALS current_{};
    TLS_PARAMETERS parameters_{};
    CRYPTO_SETTINGS disabled_[kDisabledCount]{};
    UNICODE_STRING cbc_{};
    SCHANNEL_CRED older_{};
};

// The flags of both forms: the certificate is left to the caller (the pin), the server's name is
// not compared with it, no client certificate is offered, weak ciphers are off. No revocation
// flag: nothing is looked up on the network.
inline constexpr DWORD kCredentialFlags = SCH_CRED_MANUAL_CRED_VALIDATION |
                                          SCH_CRED_NO_SERVERNAME_CHECK | SCH_CRED_NO_DEFAULT_CREDS |
                                          SCH_USE_STRONG_CRYPTO;

// The protocols a client may speak: TLS 1.2, and TLS 1.3 where the system has it.
inline constexpr DWORD kClientProtocols = SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_3_CLIENT;

// What InitializeSecurityContextW is asked for: a TLS stream whose certificate the caller
// checks, its tokens allocated by Schannel.
inline constexpr ULONG kContextRequirements = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT |
                                              ISC_REQ_CONFIDENTIALITY | ISC_REQ_ALLOCATE_MEMORY |
                                              ISC_REQ_STREAM | ISC_REQ_MANUAL_CRED_VALIDATION |
                                              ISC_REQ_USE_SUPPLIED_CREDS | ISC_REQ_EXTENDED_ERROR;

// What Schannel says a handshake negotiated: SECPKG_ATTR_CONNECTION_INFO, and the cipher suite's
// number from SECPKG_ATTR_CIPHER_INFO (0 where the system does not say it: wine).
struct Negotiated {
    DWORD protocol = 0;
    ALG_ID cipher = 0;
    ALG_ID hash = 0;
    DWORD hashStrength = 0;
    ALG_ID exchange = 0;
    std::uint32_t cipherSuite = 0;
};

// Whether a connection may carry the run: TLS 1.3; or TLS 1.2 with ECDHE and an AEAD cipher, by
// its suite's number where the system says it, else by the exchange and a hash that is no MAC
// of its own (an AEAD suite's hash strength is 0) on AES.
bool AcceptableConnection(Negotiated const& negotiated);

}  // namespace qm::tls::win
