#include "socket_helpers.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "net/socket_calls.h"

namespace qm::net::testing {

SocketPair::SocketPair() {
    auto [first, second] = qm::test::ConnectedPair();
    ours = std::move(first);
    theirs = std::move(second);
}

bool IsOpen(std::intptr_t native) {
    return sockets::IsOpen(SocketHandle(native));
}

std::size_t FillSendBuffer(std::intptr_t native) {
    std::vector<std::uint8_t> const block(65536, 0x5A);
    std::size_t total = 0;
    std::size_t size = block.size();
    for (int attempt = 0; attempt < 100000 && size > 0; ++attempt) {
        long const sent = sockets::Send(SocketHandle(native), std::span(block.data(), size));
        if (sent > 0) {
            total += static_cast<std::size_t>(sent);
        } else {
            size /= 2;  // full for this size: try smaller blocks down to one byte
        }
    }
    return total;
}

std::vector<std::uint8_t> DrainAll(std::intptr_t native) {
    std::vector<std::uint8_t> bytes;
    std::vector<std::uint8_t> chunk(65536);
    for (int attempt = 0; attempt < 100000; ++attempt) {
        long const got = sockets::Receive(SocketHandle(native), chunk);
        if (got <= 0) {
            break;
        }
        bytes.insert(bytes.end(), chunk.begin(), chunk.begin() + got);
    }
    return bytes;
}

std::vector<std::uint8_t> ReadExactly(std::intptr_t native, std::size_t count) {
    std::vector<std::uint8_t> bytes;
    std::vector<std::uint8_t> chunk(4096);
    for (int attempt = 0; attempt < 250 && bytes.size() < count; ++attempt) {
        std::size_t const wanted = std::min(chunk.size(), count - bytes.size());
        long const got = sockets::Receive(SocketHandle(native), std::span(chunk.data(), wanted));
        if (got == 0 || (got < 0 && !sockets::WouldBlock(sockets::LastError()))) {
            break;
        }
        if (got < 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            continue;
        }
        bytes.insert(bytes.end(), chunk.begin(), chunk.begin() + got);
    }
    return bytes;
}

}  // namespace qm::net::testing
