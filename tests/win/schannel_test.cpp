// What the Windows program asks of Schannel and what it accepts of it. Wine's Schannel ignores
// most of what it is asked and checks no certificate, so the runs under wine cannot show a flag
// that is missing: the credentials, the context's requirements and the judgement of a negotiated
// connection are checked here as values, and the pin of a certificate against OpenSSL's.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "net/key_pin.h"
#include "tls/win/schannel_settings.h"
#include "tls/win/schannel_tls.h"

namespace qm::tls::win {
namespace {

// A self-signed certificate of an EC P-256 key (DER), and the key's pin as OpenSSL computes it
// (openssl x509 -pubkey | openssl pkey -pubin -outform der | openssl dgst -sha256 -binary).
std::vector<std::uint8_t> const kCertificate{
    0x30, 0x82, 0x01, 0x99, 0x30, 0x82, 0x01, 0x3f, 0xa0, 0x03, 0x02, 0x01, 0x02, 0x02, 0x14, 0x03,
    0x2c, 0x90, 0xdf, 0xdf, 0xc7, 0x94, 0xc7, 0x81, 0xa7, 0xb0, 0x52, 0x77, 0x42, 0x82, 0xff, 0xd8,
    0xbd, 0xd8, 0x17, 0x30, 0x0a, 0x06, 0x08, 0x2a, 0x86, 0x48, 0xce, 0x3d, 0x04, 0x03, 0x02, 0x30,
    0x22, 0x31, 0x20, 0x30, 0x1e, 0x06, 0x03, 0x55, 0x04, 0x03, 0x0c, 0x17, 0x71, 0x75, 0x69, 0x6c,
    0x6c, 0x6d, 0x65, 0x73, 0x68, 0x2d, 0x75, 0x70, 0x64, 0x61, 0x74, 0x65, 0x2d, 0x73, 0x65, 0x72,
    0x76, 0x65, 0x72, 0x30, 0x1e, 0x17, 0x0d, 0x32, 0x36, 0x31, 0x32, 0x30, 0x39, 0x31, 0x39, 0x32,
    0x38, 0x35, 0x30, 0x5a, 0x17, 0x0d, 0x33, 0x36, 0x31, 0x32, 0x30, 0x36, 0x31, 0x39, 0x32, 0x38,
    0x35, 0x30, 0x5a, 0x30, 0x22, 0x31, 0x20, 0x30, 0x1e, 0x06, 0x03, 0x55, 0x04, 0x03, 0x0c, 0x17,
    0x71, 0x75, 0x69, 0x6c, 0x6c, 0x6d, 0x65, 0x73, 0x68, 0x2d, 0x75, 0x70, 0x64, 0x61, 0x74, 0x65,
    0x2d, 0x73, 0x65, 0x72, 0x76, 0x65, 0x72, 0x30, 0x59, 0x30, 0x13, 0x06, 0x07, 0x2a, 0x86, 0x48,
    0xce, 0x3d, 0x02, 0x01, 0x06, 0x08, 0x2a, 0x86, 0x48, 0xce, 0x3d, 0x03, 0x01, 0x07, 0x03, 0x42,
    0x00, 0x04, 0x92, 0x70, 0xca, 0x99, 0x48, 0x7b, 0x9b, 0x29, 0xbc, 0xbf, 0xd3, 0x7f, 0xfc, 0x34,
    0x94, 0x12, 0x68, 0x73, 0x03, 0x19, 0xad, 0xd3, 0xdc, 0xcb, 0x1d, 0x7f, 0xc3, 0x7b, 0xc2, 0x62,
    0xb4, 0x38, 0xa3, 0x74, 0xac, 0x67, 0x78, 0x47, 0x05, 0xeb, 0x6d, 0xdc, 0xa6, 0x24, 0x52, 0xc1,
    0x73, 0x4e, 0xfe, 0xf3, 0x51, 0x7f, 0x7a, 0xc6, 0x23, 0xd0, 0x9d, 0xd4, 0x6a, 0x90, 0xa1, 0x3e,
    0x50, 0xd7, 0xa3, 0x53, 0x30, 0x51, 0x30, 0x1d, 0x06, 0x03, 0x55, 0x1d, 0x0e, 0x04, 0x16, 0x04,
    0x14, 0xb5, 0x93, 0x86, 0xa0, 0x12, 0x5f, 0xae, 0xb0, 0xb5, 0x46, 0x8b, 0xad, 0x3c, 0x8d, 0x98,
    0x6c, 0xd3, 0xd5, 0x9c, 0xf2, 0x30, 0x1f, 0x06, 0x03, 0x55, 0x1d, 0x23, 0x04, 0x18, 0x30, 0x16,
    0x80, 0x14, 0xb5, 0x93, 0x86, 0xa0, 0x12, 0x5f, 0xae, 0xb0, 0xb5, 0x46, 0x8b, 0xad, 0x3c, 0x8d,
    0x98, 0x6c, 0xd3, 0xd5, 0x9c, 0xf2, 0x30, 0x0f, 0x06, 0x03, 0x55, 0x1d, 0x13, 0x01, 0x01, 0xff,
    0x04, 0x05, 0x30, 0x03, 0x01, 0x01, 0xff, 0x30, 0x0a, 0x06, 0x08, 0x2a, 0x86, 0x48, 0xce, 0x3d,
    0x04, 0x03, 0x02, 0x03, 0x48, 0x00, 0x30, 0x45, 0x02, 0x20, 0x6f, 0xbb, 0xac, 0xf4, 0xb5, 0x0b,
    0x70, 0xfa, 0xdc, 0xe3, 0xc0, 0x1f, 0xac, 0xa3, 0x52, 0x9e, 0xf5, 0x42, 0x45, 0x9f, 0x37, 0xd7,
    0xa6, 0x83, 0x60, 0x97, 0xae, 0x8f, 0x07, 0x1b, 0x19, 0x2f, 0x02, 0x21, 0x00, 0xa1, 0xbc, 0xf8,
    0x6a, 0x13, 0xdf, 0x86, 0xa1, 0x1f, 0xa0, 0xad, 0xbb, 0x1b, 0xf4, 0x39, 0x85, 0xab, 0x4e, 0x88,
    0x04, 0xa2, 0x6d, 0x31, 0x67, 0x15, 0x02, 0x1a, 0xe4, 0xdc, 0x6b, 0x2a, 0x5f,
};
constexpr char kPin[] = "sha256//HGsUYR5RCkwV2189OE2QHXybtYoyPfB33EKwXUn3i18=";

constexpr DWORD kOlderProtocols =
    SP_PROT_SSL2_CLIENT | SP_PROT_SSL3_CLIENT | SP_PROT_TLS1_0_CLIENT | SP_PROT_TLS1_1_CLIENT;
// Flags that would let Schannel judge the certificate, look anything up, or offer one of ours.
constexpr DWORD kForbiddenFlags = SCH_CRED_AUTO_CRED_VALIDATION | SCH_CRED_USE_DEFAULT_CREDS |
                                  SCH_CRED_REVOCATION_CHECK_END_CERT |
                                  SCH_CRED_REVOCATION_CHECK_CHAIN |
                                  SCH_CRED_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT |
                                  SCH_CRED_CACHE_ONLY_URL_RETRIEVAL | SCH_ALLOW_NULL_ENCRYPTION;

void ExpectPinnedClientFlags(DWORD flags) {
    EXPECT_EQ(flags & SCH_CRED_MANUAL_CRED_VALIDATION, DWORD{SCH_CRED_MANUAL_CRED_VALIDATION});
    EXPECT_EQ(flags & SCH_CRED_NO_SERVERNAME_CHECK, DWORD{SCH_CRED_NO_SERVERNAME_CHECK});
    EXPECT_EQ(flags & SCH_CRED_NO_DEFAULT_CREDS, DWORD{SCH_CRED_NO_DEFAULT_CREDS});
    EXPECT_EQ(flags & kForbiddenFlags, 0u);
}

std::wstring Text(UNICODE_STRING const& name) {
    return {name.Buffer, name.Length / sizeof(wchar_t)};
}

TEST(SchannelCredentials, TheCurrentFormAllowsTls12And13WithForwardSecretAeadCiphersOnly) {
    ClientCredentials credentials(ClientCredentials::Form::Current);
    SCH_CREDENTIALS const& current = credentials.current();
    EXPECT_EQ(credentials.AuthData(), &current);
    EXPECT_EQ(current.dwVersion, DWORD{SCH_CREDENTIALS_VERSION});
    EXPECT_EQ(current.cCreds, 0u) << "no client certificate";
    ExpectPinnedClientFlags(current.dwFlags);
    ASSERT_EQ(current.cTlsParameters, 1u);
    TLS_PARAMETERS const& parameters = *current.pTlsParameters;
    EXPECT_EQ(parameters.grbitDisabledProtocols & kClientProtocols, 0u);
    EXPECT_EQ(parameters.grbitDisabledProtocols & kOlderProtocols, kOlderProtocols);
    EXPECT_EQ(parameters.dwFlags & TLS_PARAMS_OPTIONAL, 0u) << "the settings are not a wish";

    // Each disabled algorithm by its use, with the chaining modes it names (none: all).
    std::vector<std::wstring> disabled;
    for (DWORD i = 0; i < parameters.cDisabledCrypto; ++i) {
        CRYPTO_SETTINGS const& setting = parameters.pDisabledCrypto[i];
        std::wstring entry =
            std::to_wstring(setting.eAlgorithmUsage) + L" " + Text(setting.strCngAlgId);
        for (DWORD mode = 0; mode < setting.cChainingModes; ++mode) {
            entry += L" " + Text(setting.rgstrChainingModes[mode]);
        }
        EXPECT_EQ(setting.dwMinBitLength, 0u);
        EXPECT_EQ(setting.dwMaxBitLength, 0u);
        disabled.push_back(entry);
    }
    std::wstring const exchange = std::to_wstring(TlsParametersCngAlgUsageKeyExchange) + L" ";
    std::wstring const cipher = std::to_wstring(TlsParametersCngAlgUsageCipher) + L" ";
    EXPECT_EQ(disabled, (std::vector<std::wstring>{exchange + L"RSA", exchange + L"DH",
                                                   cipher + L"AES ChainingModeCBC", cipher + L"DES",
                                                   cipher + L"3DES", cipher + L"RC4"}));
}

TEST(SchannelCredentials, TheOlderFormAllowsTls12Alone) {
    ClientCredentials credentials(ClientCredentials::Form::Older);
    SCHANNEL_CRED const& older = credentials.older();
    EXPECT_EQ(credentials.AuthData(), &older);
    EXPECT_EQ(older.dwVersion, DWORD{SCHANNEL_CRED_VERSION});
    EXPECT_EQ(older.grbitEnabledProtocols, DWORD{SP_PROT_TLS1_2_CLIENT});
    EXPECT_EQ(older.cCreds, 0u);
    EXPECT_EQ(older.cSupportedAlgs, 0u);
    ExpectPinnedClientFlags(older.dwFlags);
}

// Both forms as the system's Schannel takes them (here wine's, which takes both).
TEST(SchannelCredentials, EachFormIsTakenBySchannel) {
    for (auto const form : {ClientCredentials::Form::Current, ClientCredentials::Form::Older}) {
        ClientCredentials credentials(form);
        CredHandle handle{};
        TimeStamp expiry{};
        SECURITY_STATUS const status = ::AcquireCredentialsHandleW(
            nullptr, const_cast<SEC_WCHAR*>(UNISP_NAME_W), SECPKG_CRED_OUTBOUND, nullptr,
            credentials.AuthData(), nullptr, nullptr, &handle, &expiry);
        EXPECT_EQ(status, SEC_E_OK)
            << (form == ClientCredentials::Form::Current ? "current" : "older");
        if (status == SEC_E_OK) {
            ::FreeCredentialsHandle(&handle);
        }
    }
}

TEST(SchannelCredentials, TheContextIsAStreamWhoseCertificateTheProgramChecks) {
    ULONG const required = ISC_REQ_MANUAL_CRED_VALIDATION | ISC_REQ_STREAM |
                           ISC_REQ_CONFIDENTIALITY | ISC_REQ_SEQUENCE_DETECT |
                           ISC_REQ_REPLAY_DETECT | ISC_REQ_USE_SUPPLIED_CREDS;
    EXPECT_EQ(kContextRequirements & required, required);
    EXPECT_EQ(kContextRequirements & (ISC_REQ_MUTUAL_AUTH | ISC_REQ_CONNECTION), 0u);
}

TEST(SchannelCredentials, ANegotiatedConnectionIsAcceptedOnlyWithTls12AeadAndEcdheOr13) {
    struct Case {
        char const* name;
        Negotiated negotiated;
        bool accepted;
    };
    constexpr DWORD tls12 = SP_PROT_TLS1_2_CLIENT;
    Case const cases[] = {
        // As Windows reports them: by the suite's number.
        {"TLS 1.3", {SP_PROT_TLS1_3_CLIENT, CALG_AES_256, 0, 0, 0, 0x1302}, true},
        {"ECDHE-ECDSA-AES128-GCM",
         {tls12, CALG_AES_128, CALG_SHA_256, 0, CALG_ECDH_EPHEM, 0xC02B},
         true},
        {"ECDHE-RSA-AES256-GCM",
         {tls12, CALG_AES_256, CALG_SHA_384, 0, CALG_ECDH_EPHEM, 0xC030},
         true},
        {"ECDHE-ECDSA-CHACHA20", {tls12, 0, 0, 0, CALG_ECDH_EPHEM, 0xCCA9}, true},
        {"ECDHE-RSA-AES128-CBC-SHA",
         {tls12, CALG_AES_128, CALG_SHA1, 160, CALG_ECDH_EPHEM, 0xC013},
         false},
        {"RSA-AES128-GCM", {tls12, CALG_AES_128, CALG_SHA_256, 0, CALG_RSA_KEYX, 0x009C}, false},
        {"DHE-RSA-AES128-GCM",
         {tls12, CALG_AES_128, CALG_SHA_256, 0, CALG_DH_EPHEM, 0x009E},
         false},
        {"TLS 1.1",
         {SP_PROT_TLS1_1_CLIENT, CALG_AES_128, CALG_SHA1, 160, CALG_ECDH_EPHEM, 0xC013},
         false},
        // As wine reports them: no suite number.
        {"wine: ECDHE-ECDSA-AES256-GCM",
         {tls12, CALG_AES_256, CALG_SHA_384, 0, CALG_ECDH_EPHEM, 0},
         true},
        {"wine: ECDHE-ECDSA-AES128-CBC-SHA",
         {tls12, CALG_AES_128, CALG_SHA1, 160, CALG_ECDH_EPHEM, 0},
         false},
        {"wine: ECDHE-ECDSA-AES128-CBC-SHA256",
         {tls12, CALG_AES_128, CALG_SHA_256, 256, CALG_ECDH_EPHEM, 0},
         false},
        {"wine: RSA-AES128-GCM", {tls12, CALG_AES_128, CALG_SHA_256, 0, CALG_RSA_KEYX, 0}, false},
        {"wine: an unnamed cipher", {tls12, 0, 0, 0, CALG_ECDH_EPHEM, 0}, false},
        {"wine: TLS 1.0", {SP_PROT_TLS1_0_CLIENT, CALG_AES_256, 0, 0, CALG_ECDH_EPHEM, 0}, false},
    };
    for (Case const& c : cases) {
        EXPECT_EQ(AcceptableConnection(c.negotiated), c.accepted) << c.name;
    }
}

TEST(SchannelPin, IsTheHashOfTheCertificatesKeyAsOpenSslComputesIt) {
    std::optional<net::KeyPin> const pin = PinOfCertificate(kCertificate);
    ASSERT_TRUE(pin.has_value());
    EXPECT_EQ(net::FormatKeyPin(*pin), kPin);
    std::vector<std::uint8_t> broken = kCertificate;
    broken.resize(broken.size() / 2);
    EXPECT_FALSE(PinOfCertificate(broken).has_value());
}

}  // namespace
}  // namespace qm::tls::win
