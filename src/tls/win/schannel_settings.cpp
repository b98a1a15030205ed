#include "tls/win/schannel_settings.h"

#include <algorithm>
#include <array>
#include <cwchar>

namespace qm::tls::win {
namespace {

UNICODE_STRING Name(wchar_t const* text) {
    UNICODE_STRING name{};
    name.Buffer = const_cast<wchar_t*>(text);
    name.Length = static_cast<USHORT>(std::wcslen(text) * sizeof(wchar_t));
    name.MaximumLength = static_cast<USHORT>(name.Length + sizeof(wchar_t));
    return name;
}

CRYPTO_SETTINGS Disabled(eTlsAlgorithmUsage usage, wchar_t const* algorithm) {
    CRYPTO_SETTINGS setting{};
    setting.eAlgorithmUsage = usage;
    setting.strCngAlgId = Name(algorithm);
    return setting;
}

// The TLS 1.2 suites Linux offers (OpenSSL's "ECDHE+AESGCM:ECDHE+CHACHA20").
constexpr std::array<std::uint32_t, 6> kTls12Suites{
    0xC02B,  // TLS_ECDHE_ECDSA_WITH_AES_128_GCM_SHA256
    0xC02C,  // TLS_ECDHE_ECDSA_WITH_AES_256_GCM_SHA384
    0xC02F,  // TLS_ECDHE_RSA_WITH_AES_128_GCM_SHA256
    0xC030,  // TLS_ECDHE_RSA_WITH_AES_256_GCM_SHA384
    0xCCA8,  // TLS_ECDHE_RSA_WITH_CHACHA20_POLY1305_SHA256
    0xCCA9,  // TLS_ECDHE_ECDSA_WITH_CHACHA20_POLY1305_SHA256
};

}  // namespace

ClientCredentials::ClientCredentials(Form form) : form_(form) {
    cbc_ = Name(BCRYPT_CHAIN_MODE_CBC);
    disabled_[0] = Disabled(TlsParametersCngAlgUsageKeyExchange, BCRYPT_RSA_ALGORITHM);
    disabled_[1] = Disabled(TlsParametersCngAlgUsageKeyExchange, BCRYPT_DH_ALGORITHM);
    disabled_[2] = Disabled(TlsParametersCngAlgUsageCipher, BCRYPT_AES_ALGORITHM);
    disabled_[2].cChainingModes = 1;
    disabled_[2].rgstrChainingModes = &cbc_;
    disabled_[3] = Disabled(TlsParametersCngAlgUsageCipher, BCRYPT_DES_ALGORITHM);
    disabled_[4] = Disabled(TlsParametersCngAlgUsageCipher, BCRYPT_3DES_ALGORITHM);
    disabled_[5] = Disabled(TlsParametersCngAlgUsageCipher, BCRYPT_RC4_ALGORITHM);

    // Every protocol but those two is disabled, the servers' as well as the clients'.
    parameters_.grbitDisabledProtocols = ~kClientProtocols;
    parameters_.cDisabledCrypto = kDisabledCount;
    parameters_.pDisabledCrypto = disabled_;

    current_.dwVersion = SCH_CREDENTIALS_VERSION;
    current_.dwFlags = kCredentialFlags;
    current_.cTlsParameters = 1;
    current_.pTlsParameters = &parameters_;

    // The older form knows no TLS 1.3.
    older_.dwVersion = SCHANNEL_CRED_VERSION;
    older_.grbitEnabledProtocols = SP_PROT_TLS1_2_CLIENT;
    older_.dwFlags = kCredentialFlags;
}

void* ClientCredentials::AuthData() {
    return form_ == Form::Current ? static_cast<void*>(&current_) : static_cast<void*>(&older_);
}

bool AcceptableConnection(Negotiated const& negotiated) {
    if (negotiated.protocol == SP_PROT_TLS1_3_CLIENT) {
        return true;  // every suite of TLS 1.3 is forward-secret AEAD
    }
    if (negotiated.protocol != SP_PROT_TLS1_2_CLIENT) {
        return false;
    }
    if (negotiated.cipherSuite != 0) {
        return std::find(kTls12Suites.begin(), kTls12Suites.end(), negotiated.cipherSuite) !=
               kTls12Suites.end();
    }
    bool const ephemeral = negotiated.exchange == CALG_ECDH_EPHEM;
    bool const aes = negotiated.cipher == CALG_AES_128 || negotiated.cipher == CALG_AES_256;
    return ephemeral && aes && negotiated.hashStrength == 0;
}

}  // namespace qm::tls::win
