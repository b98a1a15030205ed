#include "net/client_link.h"

namespace qm::net {

int ResetLink(ClientLink& link, SocketLayer& layer) {
    // Only a connected link owns its socket; a refused one merely forgets it.
    if (link.connected && link.socket.valid()) {
        layer.CloseSocket(link.socket);
    }
    link.socket = kNoSocket;
    link.from_me = 0;
    link.peerId = 0;
    link.connected = false;
    link.bytesReceived = 0;
    link.outbox.Clear();
    return 0;
}

}  // namespace qm::net
