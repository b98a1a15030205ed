#include "update_server/client_connection.h"

#include <cstdio>

namespace qm::server {
namespace {

std::string Seconds(std::chrono::steady_clock::duration elapsed) {
    double const seconds = std::chrono::duration<double>(elapsed).count();
    char text[32];
    std::snprintf(text, sizeof text, "%.3f s", seconds);
    return text;
}

}  // namespace

ClientConnection::ClientConnection(net::SocketHandle socket, Addressing replies,
                                   CatalogShelf const& shelf, ServerLog& log,
                                   std::string const& peer, bool quiet, std::uint32_t capabilities)
    : socket_(socket),
      openedAt_(std::chrono::steady_clock::now()),
      log_(log, replies.destinationId, peer, quiet),
      conversation_(replies, shelf, log_, outbox_, capabilities) {}

void ClientConnection::Open() {
    log_.Note("connected");
    conversation_.Welcome();
}

void ClientConnection::Receive(std::span<const std::uint8_t> bytes) {
    if (!hungUp_) {
        net::Windows_Client_ManageDatas(link_, *this, bytes);
    }
}

void ClientConnection::LogClose(std::string_view how) {
    log_.Note(ClosedText(how));
}

std::string ClientConnection::CloseLine(std::string_view how) const {
    return log_.label() + ClosedText(how);
}

std::string ClientConnection::ClosedText(std::string_view how) const {
    return "closed (" + std::string(how) + ") after " +
           Seconds(std::chrono::steady_clock::now() - openedAt_);
}

void ClientConnection::OnFrame(net::ClientLink& /*link*/, std::span<const std::uint8_t> frame) {
    if (hungUp_) {
        return;
    }
    hungUp_ = conversation_.Handle(frame) == ClientConversation::Verdict::HangUp;
}

bool ClientConnection::Produce(std::size_t bound) {
    hungUp_ = hungUp_ || conversation_.Produce(bound) == ClientConversation::Verdict::HangUp;
    return !hungUp_;
}

void ClientConnection::OnFrameError(net::ClientLink& /*link*/, unsigned length) {
    log_.Note("hanging up: frame length " + std::to_string(length) + " is no frame");
    hungUp_ = true;
}

}  // namespace qm::server
