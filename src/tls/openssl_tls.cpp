#include "tls/openssl_tls.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace qm::tls {
namespace {

using Progress = net::SecureChannel::Progress;

// Forward secrecy for TLS 1.2; TLS 1.3 has nothing else.
constexpr char kTls12Ciphers[] = "ECDHE+AESGCM:ECDHE+CHACHA20";

std::string OpenSslProblem(std::string const& what) {
    unsigned long const code = ::ERR_get_error();
    ::ERR_clear_error();
    if (code == 0) {
        return what;
    }
    char text[256];
    ::ERR_error_string_n(code, text, sizeof text);
    return what + ": " + text;
}

struct FreeContext {
    void operator()(SSL_CTX* context) const { ::SSL_CTX_free(context); }
};
using Context = std::unique_ptr<SSL_CTX, FreeContext>;

Context NewContext(SSL_METHOD const* method) {
    Context context(::SSL_CTX_new(method));
    if (context) {
        ::SSL_CTX_set_min_proto_version(context.get(), TLS1_2_VERSION);
        ::SSL_CTX_set_cipher_list(context.get(), kTls12Ciphers);
        // A renegotiation asked for by the peer is declined: the connection goes on with the keys
        // of its handshake, and a send never has to wait for a handshake in the middle of a run.
        ::SSL_CTX_set_options(context.get(), SSL_OP_NO_RENEGOTIATION);
        // The outbox may move and resend its bytes between two calls.
        ::SSL_CTX_set_mode(context.get(),
                           SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
        // Records are read with what follows them in one read, not header and body apart; what
        // is read ahead is reported by HasBuffered.
        ::SSL_CTX_set_read_ahead(context.get(), 1);
    }
    return context;
}

std::optional<net::KeyPin> PinOf(X509* certificate) {
    EVP_PKEY* const key = certificate != nullptr ? ::X509_get0_pubkey(certificate) : nullptr;
    unsigned char* der = nullptr;
    int const length = key != nullptr ? ::i2d_PUBKEY(key, &der) : -1;
    if (length <= 0) {
        return std::nullopt;
    }
    net::KeyPin pin{};
    unsigned int size = 0;
    bool const hashed = ::EVP_Digest(der, static_cast<std::size_t>(length), pin.data(), &size,
                                     ::EVP_sha256(), nullptr) == 1;
    ::OPENSSL_free(der);
    if (!hashed || size != pin.size()) {
        return std::nullopt;
    }
    return pin;
}

Progress ProgressOf(SSL* ssl, int result) {
    switch (::SSL_get_error(ssl, result)) {
        case SSL_ERROR_WANT_READ:
            return Progress::WantRead;
        case SSL_ERROR_WANT_WRITE:
            return Progress::WantWrite;
        case SSL_ERROR_ZERO_RETURN:
            return Progress::Done;
        default:
            ::ERR_clear_error();
            return Progress::Failed;
    }
}

class OpenSslChannel final : public net::SecureChannel {
  public:
    explicit OpenSslChannel(SSL* ssl) : ssl_(ssl) {}
    ~OpenSslChannel() override { ::SSL_free(ssl_); }
    OpenSslChannel(OpenSslChannel const&) = delete;
    OpenSslChannel& operator=(OpenSslChannel const&) = delete;

    Progress Handshake() override {
        int const result = ::SSL_do_handshake(ssl_);
        return result == 1 ? Progress::Done : ProgressOf(ssl_, result);
    }

    long Read(std::span<std::uint8_t> into, Progress& progress) override {
        std::size_t count = 0;
        int const result = ::SSL_read_ex(ssl_, into.data(), into.size(), &count);
        if (result == 1) {
            return static_cast<long>(count);
        }
        progress = ProgressOf(ssl_, result);
        return 0;
    }

    long Write(std::span<const std::uint8_t> bytes, Progress& progress) override {
        std::size_t count = 0;
        int const result = ::SSL_write_ex(ssl_, bytes.data(), bytes.size(), &count);
        if (result == 1) {
            return static_cast<long>(count);
        }
        progress = ProgressOf(ssl_, result);
        if (progress == Progress::Done) {
            progress = Progress::Failed;  // the peer closed: nothing more goes out
        }
        return 0;
    }

    bool HasBuffered() const override { return ::SSL_has_pending(ssl_) == 1; }

    SSL* ssl() const { return ssl_; }

  private:
    SSL* ssl_;
};

// A channel on `socket` in `context`, as a client (connecting) or as a server (accepting).
std::unique_ptr<OpenSslChannel> NewChannel(SSL_CTX* context, net::SocketHandle socket,
                                           bool connecting) {
    SSL* const ssl = context != nullptr ? ::SSL_new(context) : nullptr;
    if (ssl == nullptr) {
        return nullptr;
    }
    auto channel = std::make_unique<OpenSslChannel>(ssl);
    if (::SSL_set_fd(ssl, static_cast<int>(socket.native())) != 1) {
        return nullptr;
    }
    if (connecting) {
        ::SSL_set_connect_state(ssl);
    } else {
        ::SSL_set_accept_state(ssl);
    }
    return channel;
}

class PinnedClientFactory final : public net::SecureChannelFactory {
  public:
    explicit PinnedClientFactory(std::span<const net::KeyPin> pins)
        : pins_(pins.begin(), pins.end()), context_(NewContext(::TLS_client_method())) {
        if (context_) {
            // The pin decides instead of a chain of certificate authorities.
            ::SSL_CTX_set_verify(context_.get(), SSL_VERIFY_PEER, nullptr);
            ::SSL_CTX_set_cert_verify_callback(context_.get(), &PinnedClientFactory::Verify, this);
        }
    }

    std::unique_ptr<net::SecureChannel> Open(net::SocketHandle socket,
                                             std::string const& serverName) override {
        std::unique_ptr<OpenSslChannel> channel = NewChannel(context_.get(), socket, true);
        if (channel && !serverName.empty()) {
            ::SSL_set_tlsext_host_name(channel->ssl(), serverName.c_str());
        }
        return channel;
    }

  private:
    static int Verify(X509_STORE_CTX* store, void* argument) {
        auto const* factory = static_cast<PinnedClientFactory const*>(argument);
        std::optional<net::KeyPin> const pin = PinOf(::X509_STORE_CTX_get0_cert(store));
        bool const pinned = pin && std::find(factory->pins_.begin(), factory->pins_.end(), *pin) !=
                                       factory->pins_.end();
        if (!pinned) {
            ::X509_STORE_CTX_set_error(store, X509_V_ERR_APPLICATION_VERIFICATION);
        }
        return pinned ? 1 : 0;
    }

    std::vector<net::KeyPin> pins_;
    Context context_;
};

class ServerFactory final : public net::SecureChannelFactory {
  public:
    explicit ServerFactory(Context context) : context_(std::move(context)) {}

    std::unique_ptr<net::SecureChannel> Open(net::SocketHandle socket,
                                             std::string const& /*name*/) override {
        return NewChannel(context_.get(), socket, false);
    }

  private:
    Context context_;
};

struct FreeKey {
    void operator()(EVP_PKEY* key) const { ::EVP_PKEY_free(key); }
};
struct FreeCertificate {
    void operator()(X509* certificate) const { ::X509_free(certificate); }
};
struct CloseFile {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, CloseFile>;

// A self-signed certificate of `key` for ten years.
std::unique_ptr<X509, FreeCertificate> SelfSigned(EVP_PKEY* key) {
    std::unique_ptr<X509, FreeCertificate> certificate(::X509_new());
    unsigned char serial[16];
    if (!certificate || ::RAND_bytes(serial, sizeof serial) != 1) {
        return nullptr;
    }
    serial[0] &= 0x7F;
    BIGNUM* number = ::BN_bin2bn(serial, sizeof serial, nullptr);
    bool made =
        number != nullptr && ::X509_set_version(certificate.get(), X509_VERSION_3) == 1 &&
        ::BN_to_ASN1_INTEGER(number, ::X509_get_serialNumber(certificate.get())) != nullptr &&
        ::X509_gmtime_adj(::X509_getm_notBefore(certificate.get()), 0) != nullptr &&
        ::X509_gmtime_adj(::X509_getm_notAfter(certificate.get()), 10L * 365 * 86400) != nullptr &&
        ::X509_set_pubkey(certificate.get(), key) == 1;
    ::BN_free(number);
    X509_NAME* const name = ::X509_get_subject_name(certificate.get());
    made = made &&
           ::X509_NAME_add_entry_by_txt(
               name, "CN", MBSTRING_ASC,
               reinterpret_cast<unsigned char const*>("quillmesh-update-server"), -1, -1, 0) == 1 &&
           ::X509_set_issuer_name(certificate.get(), name) == 1 &&
           ::X509_sign(certificate.get(), key, ::EVP_sha256()) > 0;
    return made ? std::move(certificate) : nullptr;
}

}  // namespace

std::shared_ptr<net::SecureChannelFactory> MakePinnedClientFactory(
    std::span<const net::KeyPin> pins) {
    return std::make_shared<PinnedClientFactory>(pins);
}

std::shared_ptr<net::SecureChannelFactory> MakeServerFactory(
    std::filesystem::path const& key, std::filesystem::path const& certificate,
    std::string& problem) {
    Context context = NewContext(::TLS_server_method());
    if (!context) {
        problem = OpenSslProblem("cannot set up TLS");
        return nullptr;
    }
    if (::SSL_CTX_use_certificate_chain_file(context.get(), certificate.c_str()) != 1) {
        problem = OpenSslProblem("cannot use the certificate " + certificate.string());
        return nullptr;
    }
    if (::SSL_CTX_use_PrivateKey_file(context.get(), key.c_str(), SSL_FILETYPE_PEM) != 1 ||
        ::SSL_CTX_check_private_key(context.get()) != 1) {
        problem = OpenSslProblem("cannot use the key " + key.string());
        return nullptr;
    }
    return std::make_shared<ServerFactory>(std::move(context));
}

std::optional<net::KeyPin> PinOfCertificate(std::filesystem::path const& certificate,
                                            std::string& problem) {
    File const file(std::fopen(certificate.c_str(), "r"));
    std::unique_ptr<X509, FreeCertificate> const read(
        file ? ::PEM_read_X509(file.get(), nullptr, nullptr, nullptr) : nullptr);
    std::optional<net::KeyPin> const pin = read ? PinOf(read.get()) : std::nullopt;
    if (!pin) {
        problem = OpenSslProblem("cannot read a certificate from " + certificate.string());
    }
    return pin;
}

bool MakeKeyAndCertificate(std::filesystem::path const& key,
                           std::filesystem::path const& certificate, std::string& problem) {
    std::unique_ptr<EVP_PKEY, FreeKey> const made(::EVP_EC_gen("P-256"));
    std::unique_ptr<X509, FreeCertificate> const signed_ = made ? SelfSigned(made.get()) : nullptr;
    if (!signed_) {
        problem = OpenSslProblem("cannot make a key");
        return false;
    }
    mode_t const mask = ::umask(077);  // the key is its owner's alone
    File const keyFile(std::fopen(key.c_str(), "wx"));
    ::umask(mask);
    File const certificateFile(keyFile ? std::fopen(certificate.c_str(), "wx") : nullptr);
    if (!keyFile || !certificateFile) {
        problem =
            "cannot create " + (keyFile ? certificate : key).string() + " (it must not exist yet)";
        return false;
    }
    if (::PEM_write_PrivateKey(keyFile.get(), made.get(), nullptr, nullptr, 0, nullptr, nullptr) !=
            1 ||
        ::PEM_write_X509(certificateFile.get(), signed_.get()) != 1) {
        problem = OpenSslProblem("cannot write the key and certificate");
        return false;
    }
    return true;
}

}  // namespace qm::tls
