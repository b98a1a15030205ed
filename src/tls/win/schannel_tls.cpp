#include "tls/win/schannel_tls.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

#include "base/win/system_path.h"
#include "net/socket_calls.h"
#include "tls/win/schannel_settings.h"

namespace qm::tls {
namespace {

using Progress = net::SecureChannel::Progress;
namespace sockets = net::sockets;

// A record: a header of 5 bytes whose last two give the length of what follows.
constexpr std::size_t kRecordHeader = 5;
// What one receive asks of the socket: several records at once, as OpenSSL's read-ahead takes
// them on Linux; what is left over waits in the channel (HasBuffered).
constexpr std::size_t kReceiveSize = 32 * 1024;
// No record is longer: 16 KiB of data and at most 2 KiB of protection.
constexpr std::size_t kLongestRecord = kRecordHeader + 16384 + 2048;

// Bytes in the order they came, taken from the front.
class ByteQueue {
  public:
    std::span<std::uint8_t> data() { return {bytes_.data() + begin_, end_ - begin_}; }
    std::span<const std::uint8_t> data() const { return {bytes_.data() + begin_, end_ - begin_}; }
    std::size_t size() const { return end_ - begin_; }
    bool empty() const { return begin_ == end_; }

    void Consume(std::size_t count) {
        begin_ += std::min(count, size());
        if (begin_ == end_) {
            begin_ = end_ = 0;
        }
    }
    // Room for at least `count` more bytes at the end; Added says how many were put there.
    std::span<std::uint8_t> Room(std::size_t count) {
        if (bytes_.size() - end_ < count && begin_ > 0) {
            std::memmove(bytes_.data(), bytes_.data() + begin_, size());
            end_ -= begin_;
            begin_ = 0;
        }
        if (bytes_.size() - end_ < count) {
            bytes_.resize(end_ + count);
        }
        return {bytes_.data() + end_, bytes_.size() - end_};
    }
    void Added(std::size_t count) { end_ += count; }
    void Append(void const* bytes, std::size_t count) {
        if (count > 0) {
            std::memcpy(Room(count).data(), bytes, count);
            Added(count);
        }
    }

  private:
    std::vector<std::uint8_t> bytes_;
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
};

// Whether `bytes` may begin a record of TLS: a known content type (change_cipher_spec, alert,
// handshake, application_data) and a version of 3.x. A plain server's first bytes fail at once,
// not after the handshake's time (wine's Schannel waits for as many bytes as they seem to
// announce).
bool MayBeRecord(std::span<const std::uint8_t> bytes) {
    return (bytes.empty() || (bytes[0] >= 0x14 && bytes[0] <= 0x17)) &&
           (bytes.size() < 2 || bytes[1] == 0x03);
}

// Whether `bytes` begin with a whole record.
bool HoldsRecord(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < kRecordHeader) {
        return false;
    }
    std::size_t const length = (std::size_t{bytes[3]} << 8) | bytes[4];
    return bytes.size() >= kRecordHeader + length;
}

struct FreeContextBuffer {
    void operator()(void* buffer) const { ::FreeContextBuffer(buffer); }
};
using ContextBuffer = std::unique_ptr<void, FreeContextBuffer>;

std::optional<net::KeyPin> PinOf(CERT_CONTEXT const* certificate) {
    if (certificate == nullptr || certificate->pCertInfo == nullptr) {
        return std::nullopt;
    }
    // The key as OpenSSL's i2d_PUBKEY writes it: the SubjectPublicKeyInfo, DER.
    BYTE* der = nullptr;
    DWORD length = 0;
    if (!::CryptEncodeObjectEx(X509_ASN_ENCODING, X509_PUBLIC_KEY_INFO,
                               &certificate->pCertInfo->SubjectPublicKeyInfo,
                               CRYPT_ENCODE_ALLOC_FLAG, nullptr, &der, &length)) {
        return std::nullopt;
    }
    net::KeyPin pin{};
    BCRYPT_ALG_HANDLE sha256 = nullptr;
    bool const hashed = BCRYPT_SUCCESS(::BCryptOpenAlgorithmProvider(
                            &sha256, BCRYPT_SHA256_ALGORITHM, nullptr, 0)) &&
                        BCRYPT_SUCCESS(::BCryptHash(sha256, nullptr, 0, der, length, pin.data(),
                                                    static_cast<ULONG>(pin.size())));
    if (sha256 != nullptr) {
        ::BCryptCloseAlgorithmProvider(sha256, 0);
    }
    ::LocalFree(der);
    return hashed ? std::optional(pin) : std::nullopt;
}

// Credentials of the pinned client, in the current form or, where the system refuses that, the
// older one. Shared by the channels of one factory, which Schannel lets resume its sessions.
class Credentials {
  public:
    Credentials() = default;
    ~Credentials() {
        if (acquired_) {
            ::FreeCredentialsHandle(&handle_);
        }
    }
    Credentials(Credentials const&) = delete;
    Credentials& operator=(Credentials const&) = delete;

    bool Acquire(std::string& problem) {
        SECURITY_STATUS status = SEC_E_OK;
        for (auto const form :
             {win::ClientCredentials::Form::Current, win::ClientCredentials::Form::Older}) {
            win::ClientCredentials data(form);
            TimeStamp expiry{};
            status = ::AcquireCredentialsHandleW(nullptr, const_cast<SEC_WCHAR*>(UNISP_NAME_W),
                                                 SECPKG_CRED_OUTBOUND, nullptr, data.AuthData(),
                                                 nullptr, nullptr, &handle_, &expiry);
            if (status == SEC_E_OK) {
                acquired_ = true;
                return true;
            }
        }
        char text[96];
        std::snprintf(text, sizeof text, "Schannel takes no credentials (0x%08lX)",
                      static_cast<unsigned long>(status));
        problem = text;
        return false;
    }

    CredHandle* handle() { return &handle_; }

  private:
    CredHandle handle_{};
    bool acquired_ = false;
};

class SchannelChannel final : public net::SecureChannel {
  public:
    SchannelChannel(std::shared_ptr<Credentials> credentials, std::vector<net::KeyPin> const& pins,
                    net::SocketHandle socket, std::wstring target)
        : credentials_(std::move(credentials)),
          pins_(pins),
          socket_(socket),
          target_(std::move(target)) {}
    ~SchannelChannel() override {
        if (haveContext_) {
            ::DeleteSecurityContext(&context_);
        }
    }
    SchannelChannel(SchannelChannel const&) = delete;
    SchannelChannel& operator=(SchannelChannel const&) = delete;

    Progress Handshake() override;
    long Read(std::span<std::uint8_t> into, Progress& progress) override;
    long Write(std::span<const std::uint8_t> bytes, Progress& progress) override;
    bool HasBuffered() const override { return !plain_.empty() || HoldsRecord(incoming_.data()); }

  private:
    enum class Received { Some, Nothing, Closed, Failed };

    // One receive into `incoming_`; once the socket has ended, how it ended.
    Received Receive();
    // Read without the receive ahead.
    long ReadRecord(std::span<std::uint8_t> into, Progress& progress);
    // Sends what `outgoing_` holds: Done when all went out, WantWrite when the socket is full,
    // Failed.
    Progress Flush();
    // One call of InitializeSecurityContextW on `given` (nothing the first time): what it answers
    // goes to outgoing_; `left` says how many of the given bytes it did not take.
    SECURITY_STATUS Initialize(std::span<std::uint8_t> given, std::size_t& left);
    // One step of the handshake on what `incoming_` holds.
    SECURITY_STATUS Negotiate();
    // The server's key matches a pin and the connection follows the rules (schannel_settings.h).
    bool Verified();
    // Decrypts the record at the front of `incoming_` into `plain_`.
    SECURITY_STATUS Decrypt();
    // A handshake message after the handshake: TLS 1.3's tickets and key updates are handed to
    // Schannel; TLS 1.2's request for a renegotiation is declined.
    bool AfterHandshake(std::vector<std::uint8_t> message);
    long TakePlain(std::span<std::uint8_t> into);

    std::shared_ptr<Credentials> credentials_;
    std::vector<net::KeyPin> const pins_;
    net::SocketHandle socket_;
    std::wstring target_;
    CtxtHandle context_{};
    bool haveContext_ = false;
    bool handshaken_ = false;
    bool needInput_ = false;  // the handshake waits for the server's bytes
    DWORD protocol_ = 0;
    SecPkgContext_StreamSizes sizes_{};
    ByteQueue incoming_;             // received, not yet decrypted
    ByteQueue outgoing_;             // encrypted, not yet sent
    ByteQueue plain_;                // decrypted, not yet read
    std::size_t sealed_ = 0;         // of the caller's bytes, those that outgoing_ holds encrypted
    std::optional<Received> ended_;  // the socket's end, met by a receive ahead
};

SchannelChannel::Received SchannelChannel::Receive() {
    if (ended_) {
        return *ended_;
    }
    std::span<std::uint8_t> const room = incoming_.Room(kReceiveSize);
    for (;;) {
        long const count = sockets::Receive(socket_, room);
        if (count > 0) {
            incoming_.Added(static_cast<std::size_t>(count));
            return Received::Some;
        }
        int const error = count < 0 ? sockets::LastError() : 0;
        if (sockets::Interrupted(error)) {
            continue;
        }
        if (count < 0 && sockets::WouldBlock(error)) {
            return Received::Nothing;
        }
        ended_ = count == 0 ? Received::Closed : Received::Failed;
        return *ended_;
    }
}

Progress SchannelChannel::Flush() {
    while (!outgoing_.empty()) {
        long const count = sockets::Send(socket_, outgoing_.data());
        if (count > 0) {
            outgoing_.Consume(static_cast<std::size_t>(count));
            continue;
        }
        int const error = count < 0 ? sockets::LastError() : 0;
        if (sockets::Interrupted(error)) {
            continue;
        }
        return sockets::WouldBlock(error) ? Progress::WantWrite : Progress::Failed;
    }
    return Progress::Done;
}

SECURITY_STATUS SchannelChannel::Initialize(std::span<std::uint8_t> given, std::size_t& left) {
    SecBuffer input[2]{};
    input[0].BufferType = SECBUFFER_TOKEN;
    input[0].pvBuffer = given.data();
    input[0].cbBuffer = static_cast<ULONG>(given.size());
    input[1].BufferType = SECBUFFER_EMPTY;
    SecBufferDesc inputs{SECBUFFER_VERSION, 2, input};
    SecBuffer output[2]{};
    output[0].BufferType = SECBUFFER_TOKEN;
    output[1].BufferType = SECBUFFER_ALERT;
    SecBufferDesc outputs{SECBUFFER_VERSION, 2, output};
    ULONG attributes = 0;
    TimeStamp expiry{};
    SECURITY_STATUS const status = ::InitializeSecurityContextW(
        credentials_->handle(), haveContext_ ? &context_ : nullptr,
        target_.empty() ? nullptr : const_cast<SEC_WCHAR*>(target_.c_str()),
        win::kContextRequirements, 0, 0, haveContext_ ? &inputs : nullptr, 0,
        haveContext_ ? nullptr : &context_, &outputs, &attributes, &expiry);
    ContextBuffer const token(output[0].pvBuffer);
    ContextBuffer const alert(output[1].pvBuffer);
    if (!haveContext_ && status >= 0) {
        haveContext_ = true;  // made by this first call
    }
    left = input[1].BufferType == SECBUFFER_EXTRA
               ? std::min<std::size_t>(input[1].cbBuffer, given.size())
               : 0;
    if ((status == SEC_E_OK || status == SEC_I_CONTINUE_NEEDED) && token &&
        output[0].cbBuffer > 0) {
        outgoing_.Append(output[0].pvBuffer, output[0].cbBuffer);
    }
    return status;
}

SECURITY_STATUS SchannelChannel::Negotiate() {
    std::size_t left = 0;
    SECURITY_STATUS const status = Initialize(incoming_.data(), left);
    if (status == SEC_E_OK || status == SEC_I_CONTINUE_NEEDED) {
        // What Schannel did not take is the start of the next message (or, once the handshake
        // is complete, the first records of the server's application data).
        incoming_.Consume(incoming_.size() - left);
    }
    return status;
}

bool SchannelChannel::Verified() {
    CERT_CONTEXT const* certificate = nullptr;
    if (::QueryContextAttributesW(&context_, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &certificate) !=
            SEC_E_OK ||
        certificate == nullptr) {
        return false;
    }
    std::optional<net::KeyPin> const pin = PinOf(certificate);
    ::CertFreeCertificateContext(certificate);
    if (!pin || std::find(pins_.begin(), pins_.end(), *pin) == pins_.end()) {
        return false;
    }
    SecPkgContext_ConnectionInfo connection{};
    if (::QueryContextAttributesW(&context_, SECPKG_ATTR_CONNECTION_INFO, &connection) !=
        SEC_E_OK) {
        return false;
    }
    SecPkgContext_CipherInfo cipher{};
    cipher.dwVersion = SECPKGCONTEXT_CIPHERINFO_V1;
    if (::QueryContextAttributesW(&context_, SECPKG_ATTR_CIPHER_INFO, &cipher) != SEC_E_OK) {
        cipher.dwCipherSuite = 0;
    }
    win::Negotiated const negotiated{connection.dwProtocol, connection.aiCipher,
                                     connection.aiHash,     connection.dwHashStrength,
                                     connection.aiExch,     cipher.dwCipherSuite};
    if (!win::AcceptableConnection(negotiated)) {
        return false;
    }
    protocol_ = connection.dwProtocol;
    return ::QueryContextAttributesW(&context_, SECPKG_ATTR_STREAM_SIZES, &sizes_) == SEC_E_OK &&
           sizes_.cbMaximumMessage > 0;
}

Progress SchannelChannel::Handshake() {
    for (;;) {
        if (Progress const flushed = Flush(); flushed != Progress::Done) {
            return flushed;
        }
        if (handshaken_) {
            return Progress::Done;
        }
        if (needInput_) {
            switch (Receive()) {
                case Received::Some:
                    needInput_ = false;
                    break;
                case Received::Nothing:
                    return Progress::WantRead;
                case Received::Closed:
                case Received::Failed:
                    return Progress::Failed;
            }
        }
        if (!MayBeRecord(incoming_.data())) {
            return Progress::Failed;
        }
        switch (Negotiate()) {
            case SEC_E_OK:
                // The server is checked before anything more goes to it, and before any of its
                // application bytes (left in incoming_) is decrypted.
                if (!Verified()) {
                    return Progress::Failed;
                }
                handshaken_ = true;
                break;  // the last flight, if any, goes out first
            case SEC_I_CONTINUE_NEEDED:
                needInput_ = incoming_.empty();
                break;
            case SEC_E_INCOMPLETE_MESSAGE:
                needInput_ = true;
                break;
            default:
                // A failure, or a server that asks for a client certificate
                // (SEC_I_INCOMPLETE_CREDENTIALS): the updater has none to give.
                return Progress::Failed;
        }
    }
}

SECURITY_STATUS SchannelChannel::Decrypt() {
    SecBuffer buffers[4]{};
    buffers[0].BufferType = SECBUFFER_DATA;
    buffers[0].pvBuffer = incoming_.data().data();
    buffers[0].cbBuffer = static_cast<ULONG>(incoming_.size());
    for (int i = 1; i < 4; ++i) {
        buffers[i].BufferType = SECBUFFER_EMPTY;
    }
    SecBufferDesc description{SECBUFFER_VERSION, 4, buffers};
    SECURITY_STATUS const status = ::DecryptMessage(&context_, &description, 0, nullptr);
    if (status != SEC_E_OK && status != SEC_I_RENEGOTIATE && status != SEC_I_CONTEXT_EXPIRED) {
        return status;
    }
    // The data is decrypted in place, in incoming_: it is taken before incoming_ moves on.
    std::span<const std::uint8_t> data;
    std::size_t extra = 0;
    for (SecBuffer const& buffer : buffers) {
        if (buffer.BufferType == SECBUFFER_DATA && buffer.pvBuffer != nullptr) {
            data = {static_cast<std::uint8_t const*>(buffer.pvBuffer), buffer.cbBuffer};
        } else if (buffer.BufferType == SECBUFFER_EXTRA) {
            extra = buffer.cbBuffer;
        }
    }
    std::size_t const used = incoming_.size() - std::min(extra, incoming_.size());
    if (status == SEC_I_RENEGOTIATE) {
        // The record held a handshake message, not application data.
        std::vector<std::uint8_t> message(data.begin(), data.end());
        incoming_.Consume(used);
        return AfterHandshake(std::move(message)) ? SEC_E_OK : SEC_E_INTERNAL_ERROR;
    }
    plain_.Append(data.data(), data.size());
    incoming_.Consume(used);
    return status;
}

bool SchannelChannel::AfterHandshake(std::vector<std::uint8_t> message) {
    if (protocol_ != SP_PROT_TLS1_3_CLIENT) {
        // TLS 1.2's HelloRequest, declined as on Linux, here by leaving it unanswered (RFC 5246,
        // 7.4.1.1 lets a client): the connection goes on with the keys it has, or ends if the
        // server will not go on without a new handshake.
        return true;
    }
    // TLS 1.3 has no renegotiation: a NewSessionTicket or a KeyUpdate, which Schannel takes
    // back through InitializeSecurityContextW. A KeyUpdate's answer goes out before the next
    // record the caller sends.
    std::size_t left = 0;
    return Initialize(message, left) == SEC_E_OK;
}

long SchannelChannel::TakePlain(std::span<std::uint8_t> into) {
    std::size_t const count = std::min(into.size(), plain_.size());
    std::memcpy(into.data(), plain_.data().data(), count);
    plain_.Consume(count);
    return static_cast<long>(count);
}

long SchannelChannel::Read(std::span<std::uint8_t> into, Progress& progress) {
    long const count = ReadRecord(into, progress);
    // Windows Sockets tells of new bytes (FD_READ) again only after a receive. A read served from
    // records that an earlier receive brought receives once more before the channel holds nothing
    // whole, or bytes already waiting in the socket would never be told of.
    if (count > 0 && !HasBuffered() && incoming_.size() < kLongestRecord) {
        Receive();
    }
    return count;
}

long SchannelChannel::ReadRecord(std::span<std::uint8_t> into, Progress& progress) {
    if (!handshaken_) {
        progress = Progress::Failed;
        return 0;
    }
    if (!plain_.empty()) {
        return TakePlain(into);
    }
    for (;;) {
        // An answer to a key update that could not go out at once.
        if (Flush() == Progress::Failed) {
            progress = Progress::Failed;
            return 0;
        }
        if (HoldsRecord(incoming_.data())) {
            SECURITY_STATUS const status = Decrypt();
            if (status == SEC_I_CONTEXT_EXPIRED) {
                progress = Progress::Done;  // the server's close_notify
                return 0;
            }
            if (status != SEC_E_OK) {
                progress = Progress::Failed;
                return 0;
            }
            if (!plain_.empty()) {
                return TakePlain(into);
            }
            continue;  // a record without data
        }
        if (incoming_.size() >= kLongestRecord) {
            progress = Progress::Failed;  // no record is that long
            return 0;
        }
        switch (Receive()) {
            case Received::Some:
                continue;
            case Received::Nothing:
                progress = Progress::WantRead;
                return 0;
            case Received::Closed:
                // Without a close_notify; in the middle of a record, the connection was cut.
                progress = incoming_.empty() ? Progress::Done : Progress::Failed;
                return 0;
            case Received::Failed:
                progress = Progress::Failed;
                return 0;
        }
    }
}

long SchannelChannel::Write(std::span<const std::uint8_t> bytes, Progress& progress) {
    if (!handshaken_) {
        progress = Progress::Failed;
        return 0;
    }
    // A record that went out only in part: the caller offers the same bytes again (or moved),
    // and hears of them once the whole record is gone, as OpenSSL's partial writes report.
    if (sealed_ == 0) {
        // First what Schannel answered to the server (a key update), which the next record's
        // keys follow.
        if (progress = Flush(); progress != Progress::Done) {
            return 0;
        }
        std::size_t const count = std::min<std::size_t>(bytes.size(), sizes_.cbMaximumMessage);
        std::span<std::uint8_t> const record =
            outgoing_.Room(sizes_.cbHeader + count + sizes_.cbTrailer);
        std::memcpy(record.data() + sizes_.cbHeader, bytes.data(), count);
        SecBuffer buffers[4]{};
        buffers[0] = {sizes_.cbHeader, SECBUFFER_STREAM_HEADER, record.data()};
        buffers[1] = {static_cast<ULONG>(count), SECBUFFER_DATA, record.data() + sizes_.cbHeader};
        buffers[2] = {sizes_.cbTrailer, SECBUFFER_STREAM_TRAILER,
                      record.data() + sizes_.cbHeader + count};
        buffers[3].BufferType = SECBUFFER_EMPTY;
        SecBufferDesc description{SECBUFFER_VERSION, 4, buffers};
        if (::EncryptMessage(&context_, 0, &description, 0) != SEC_E_OK) {
            progress = Progress::Failed;
            return 0;
        }
        // The trailer may be shorter than its room.
        outgoing_.Added(buffers[0].cbBuffer + buffers[1].cbBuffer + buffers[2].cbBuffer);
        sealed_ = count;
    }
    progress = Flush();
    if (progress != Progress::Done) {
        return 0;
    }
    return static_cast<long>(std::exchange(sealed_, 0));
}

class PinnedClientFactory final : public net::SecureChannelFactory {
  public:
    PinnedClientFactory(std::span<const net::KeyPin> pins, std::shared_ptr<Credentials> credentials)
        : pins_(pins.begin(), pins.end()), credentials_(std::move(credentials)) {}

    std::unique_ptr<net::SecureChannel> Open(net::SocketHandle socket,
                                             std::string const& serverName) override {
        // The name goes along in the handshake (server name indication); an address does not.
        return std::make_unique<SchannelChannel>(credentials_, pins_, socket,
                                                 base::win::Widen(serverName));
    }

  private:
    std::vector<net::KeyPin> pins_;
    std::shared_ptr<Credentials> credentials_;
};

}  // namespace

std::shared_ptr<net::SecureChannelFactory> MakePinnedClientFactory(
    std::span<const net::KeyPin> pins, std::string& problem) {
    auto credentials = std::make_shared<Credentials>();
    if (!credentials->Acquire(problem)) {
        return nullptr;
    }
    return std::make_shared<PinnedClientFactory>(pins, std::move(credentials));
}

std::optional<net::KeyPin> PinOfCertificate(std::span<const std::uint8_t> der) {
    CERT_CONTEXT const* const certificate = ::CertCreateCertificateContext(
        X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()));
    if (certificate == nullptr) {
        return std::nullopt;
    }
    std::optional<net::KeyPin> const pin = PinOf(certificate);
    ::CertFreeCertificateContext(certificate);
    return pin;
}

}  // namespace qm::tls
