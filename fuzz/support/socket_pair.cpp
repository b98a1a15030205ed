#include "support/socket_pair.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/violation.h"

namespace qm::fuzz {

SocketPair::SocketPair() {
    int ends[2] = {-1, -1};
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, ends) != 0) {
        Violation("socketpair failed");
    }
    productEnd_ = ends[0];
    peerEnd_ = ends[1];
    struct stat status {};
    ::fstat(productEnd_, &status);
    productInode_ = status.st_ino;
}

SocketPair::~SocketPair() {
    if (ProductEndOpen()) {
        ::close(productEnd_);
    }
    ClosePeer();
}

bool SocketPair::ProductEndOpen() const {
    struct stat status {};
    return ::fstat(productEnd_, &status) == 0 && S_ISSOCK(status.st_mode) &&
           status.st_ino == productInode_;
}

void SocketPair::ClosePeer() {
    if (peerEnd_ != -1) {
        ::close(peerEnd_);
        peerEnd_ = -1;
    }
}

void SocketPair::ShrinkSendBuffer() {
    int const size = 1;  // the kernel raises it to its minimum
    ::setsockopt(productEnd_, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
}

std::vector<std::uint8_t> SocketPair::Drain() {
    std::vector<std::uint8_t> received;
    if (peerEnd_ == -1) {
        return received;
    }
    std::uint8_t block[16384];
    // A socket holds a bounded amount, so this ends; the bound keeps it so regardless.
    for (int turn = 0; turn < 1024; ++turn) {
        ssize_t const got = ::recv(peerEnd_, block, sizeof block, 0);
        if (got <= 0) {
            break;
        }
        received.insert(received.end(), block, block + got);
    }
    return received;
}

}  // namespace qm::fuzz
