#include "net/outbox.h"

#include "net/portwell.h"

namespace qm::net {

Outbox::Flush Outbox::SendTo(SocketLayer& layer, SocketHandle socket) {
    while (pending() > 0) {
        long const sent = layer.SendSome(socket, {bytes_.data() + sent_, pending()});
        if (sent < 0) {
            return Flush::Failed;
        }
        if (sent == 0) {
            DropSent();
            return Flush::Blocked;
        }
        sent_ += static_cast<std::size_t>(sent);
    }
    DropSent();
    return Flush::Drained;
}

void Outbox::Clear() {
    bytes_.clear();
    sent_ = 0;
}

void Outbox::DropSent() {
    bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(sent_));
    sent_ = 0;
}

}  // namespace qm::net
