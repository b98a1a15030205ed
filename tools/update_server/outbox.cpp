#include "update_server/outbox.h"

#include <sys/socket.h>

#include <cerrno>

namespace qm::server {

Outbox::Flush Outbox::SendTo(int socket) {
    while (pending() > 0) {
        ssize_t const sent = ::send(socket, bytes_.data() + sent_, pending(), MSG_NOSIGNAL);
        if (sent > 0) {
            sent_ += static_cast<std::size_t>(sent);
            continue;
        }
        if (sent < 0 && errno == EINTR) {
            continue;
        }
        if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            DropSent();
            return Flush::Blocked;
        }
        return Flush::Failed;
    }
    DropSent();
    return Flush::Drained;
}

void Outbox::DropSent() {
    bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(sent_));
    sent_ = 0;
}

}  // namespace qm::server
