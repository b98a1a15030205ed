#include "support/tls_peer.h"

#include <gnutls/gnutls.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>

#include "support/local_sockets.h"

namespace qm::test {

struct TlsPeer::Session {
    gnutls_session_t tls = nullptr;
    gnutls_certificate_credentials_t credentials = nullptr;
    bool ready = false;

    ~Session() {
        if (tls != nullptr) {
            gnutls_deinit(tls);
        }
        if (credentials != nullptr) {
            gnutls_certificate_free_credentials(credentials);
        }
    }
};

TlsPeer::TlsPeer(int fd, TlsPeerOptions const& options)
    : fd_(fd), session_(std::make_unique<Session>()) {
    Session& s = *session_;
    std::string const priority = "NORMAL:-VERS-ALL:+VERS-" + options.version + options.priorities;
    bool ready =
        gnutls_certificate_allocate_credentials(&s.credentials) == GNUTLS_E_SUCCESS &&
        gnutls_init(&s.tls, options.server ? GNUTLS_SERVER : GNUTLS_CLIENT) == GNUTLS_E_SUCCESS;
    if (ready && options.server) {
        ready = gnutls_certificate_set_x509_key_file(s.credentials, options.certificate.c_str(),
                                                     options.key.c_str(),
                                                     GNUTLS_X509_FMT_PEM) == GNUTLS_E_SUCCESS;
    }
    ready =
        ready && gnutls_priority_set_direct(s.tls, priority.c_str(), nullptr) == GNUTLS_E_SUCCESS &&
        gnutls_credentials_set(s.tls, GNUTLS_CRD_CERTIFICATE, s.credentials) == GNUTLS_E_SUCCESS;
    if (ready) {
        gnutls_transport_set_ptr(s.tls, this);
        gnutls_transport_set_push_function(s.tls, &TlsPeer::Push);
        gnutls_transport_set_pull_function(s.tls, &TlsPeer::Pull);
        gnutls_transport_set_pull_timeout_function(s.tls, &TlsPeer::PullTimeout);
    }
    s.ready = ready;
}

TlsPeer::~TlsPeer() = default;

bool TlsPeer::Handshake() {
    if (!session_->ready) {
        return false;
    }
    int result = GNUTLS_E_AGAIN;
    while (result == GNUTLS_E_AGAIN || result == GNUTLS_E_INTERRUPTED) {
        result = gnutls_handshake(session_->tls);
    }
    return result == GNUTLS_E_SUCCESS;
}

bool TlsPeer::Send(std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        ssize_t const sent = gnutls_record_send(session_->tls, bytes.data(), bytes.size());
        if (sent == GNUTLS_E_AGAIN || sent == GNUTLS_E_INTERRUPTED) {
            continue;
        }
        if (sent < 0) {
            return false;
        }
        bytes = bytes.subspan(static_cast<std::size_t>(sent));
    }
    return true;
}

bool TlsPeer::Flush() {
    bool const sent = SendAll(fd_, kept_);
    kept_.clear();
    return sent;
}

long TlsPeer::Receive(std::span<std::uint8_t> into) {
    for (;;) {
        ssize_t const count = gnutls_record_recv(session_->tls, into.data(), into.size());
        if (count >= 0) {
            return static_cast<long>(count);
        }
        if (count == GNUTLS_E_AGAIN || count == GNUTLS_E_INTERRUPTED) {
            continue;
        }
        if (count == GNUTLS_E_WARNING_ALERT_RECEIVED &&
            gnutls_alert_get(session_->tls) == GNUTLS_A_NO_RENEGOTIATION) {
            ++declined_;
            return kNothingYet;  // the peer may send nothing more for a while
        }
        if (count == GNUTLS_E_REHANDSHAKE) {
            if (!Handshake() || !Flush()) {
                return -1;
            }
            ++renegotiated_;
            continue;
        }
        return -1;
    }
}

bool TlsPeer::HasBuffered() const {
    return gnutls_record_check_pending(session_->tls) > 0;
}

bool TlsPeer::AskForRenegotiation() {
    return gnutls_rehandshake(session_->tls) == GNUTLS_E_SUCCESS && Flush();
}

ssize_t TlsPeer::Push(void* self, void const* data, std::size_t size) {
    auto& peer = *static_cast<TlsPeer*>(self);
    auto const* bytes = static_cast<std::uint8_t const*>(data);
    peer.kept_.insert(peer.kept_.end(), bytes, bytes + size);
    return static_cast<ssize_t>(size);
}

ssize_t TlsPeer::Pull(void* self, void* data, std::size_t size) {
    auto& peer = *static_cast<TlsPeer*>(self);
    // What was written so far must be out before an answer can come.
    if (!peer.kept_.empty() && !peer.Flush()) {
        gnutls_transport_set_errno(peer.session_->tls, EPIPE);
        return -1;
    }
    ssize_t const count = ::recv(peer.fd_, data, size, 0);
    if (count < 0) {
        gnutls_transport_set_errno(peer.session_->tls, errno);
    }
    return count;
}

int TlsPeer::PullTimeout(void* self, unsigned milliseconds) {
    auto& peer = *static_cast<TlsPeer*>(self);
    if (!peer.kept_.empty() && !peer.Flush()) {
        return -1;
    }
    pollfd ready{peer.fd_, POLLIN, 0};
    int const wait =
        milliseconds == GNUTLS_INDEFINITE_TIMEOUT ? -1 : static_cast<int>(milliseconds);
    return ::poll(&ready, 1, wait);
}

}  // namespace qm::test
