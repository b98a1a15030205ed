#include "support/socket_pair.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <tuple>

#include "support/local_sockets.h"

namespace qm::fuzz {

SocketPair::SocketPair() {
    std::tie(productEnd_, peerEnd_) = qm::test::OpenSocketPair();
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

std::vector<std::uint8_t> SocketPair::Drain() {
    return peerEnd_ == -1 ? std::vector<std::uint8_t>{} : qm::test::DrainAll(peerEnd_);
}

}  // namespace qm::fuzz
