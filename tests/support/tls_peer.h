// A TLS end for tests, built on GnuTLS (another implementation than the product's OpenSSL), on a
// connected blocking socket. Nothing it writes leaves before Flush, so that a test decides what
// arrives together: the last flight of a handshake and the first application bytes, say. As a
// server it can ask for a renegotiation, and it counts how the peer answers.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace qm::test {

struct TlsPeerOptions {
    bool server = true;
    std::string version = "TLS1.2";  // the only protocol version offered: TLS1.2 or TLS1.3
    // Added to GnuTLS's priorities ("NORMAL" and the version), e.g. ":-CIPHER-ALL:+AES-128-CBC".
    std::string priorities{};
    std::filesystem::path key{};  // a server's key and certificate (PEM)
    std::filesystem::path certificate{};
};

class TlsPeer {
  public:
    // On `fd`, which stays the caller's.
    TlsPeer(int fd, TlsPeerOptions const& options);
    ~TlsPeer();
    TlsPeer(TlsPeer const&) = delete;
    TlsPeer& operator=(TlsPeer const&) = delete;

    // The whole handshake. Each flight goes out before the peer's answer is awaited; the last
    // one is kept for the next Flush.
    bool Handshake();
    // Encrypts `bytes`, kept for the next Flush.
    bool Send(std::span<const std::uint8_t> bytes);
    // Everything kept, in one send.
    bool Flush();
    // The next application bytes: their count, 0 when the peer closed, -1 on failure, or
    // kNothingYet after a declined renegotiation (counted), when no bytes came with it. A
    // renegotiation the peer starts is carried out.
    static constexpr long kNothingYet = -2;
    long Receive(std::span<std::uint8_t> into);
    // Decrypted bytes wait inside, where poll cannot see them.
    bool HasBuffered() const;
    // A server's request to renegotiate, sent at once.
    bool AskForRenegotiation();

    int declinedRenegotiations() const { return declined_; }
    int renegotiations() const { return renegotiated_; }

  private:
    struct Session;
    static ssize_t Push(void* self, void const* data, std::size_t size);
    static ssize_t Pull(void* self, void* data, std::size_t size);
    static int PullTimeout(void* self, unsigned milliseconds);

    int fd_;
    std::unique_ptr<Session> session_;
    std::vector<std::uint8_t> kept_;
    int declined_ = 0;
    int renegotiated_ = 0;
};

}  // namespace qm::test
