#include "update_server/server_log.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <ctime>

namespace qm::server {
namespace {

std::string TimeOfDay() {
    std::time_t const now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[16];
    std::strftime(text, sizeof text, "%H:%M:%S", &local);
    return text;
}

}  // namespace

std::string PeerOf(net::SocketHandle socket) {
    sockaddr_in peer{};
    socklen_t size = sizeof peer;
    if (::getpeername(static_cast<int>(socket.native()), reinterpret_cast<sockaddr*>(&peer),
                      &size) != 0 ||
        peer.sin_family != AF_INET) {
        return "unknown peer";
    }
    char address[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &peer.sin_addr, address, sizeof address);
    return std::string(address) + ":" + std::to_string(ntohs(peer.sin_port));
}

void ServerLog::Note(std::string_view text) {
    std::string const line = TimeOfDay() + " " + std::string(text) + "\n";
    std::fwrite(line.data(), 1, line.size(), out_);
    std::fflush(out_);
}

void ServerLog::Fatal(std::string_view text, std::FILE* alarm) {
    Note(text);
    if (alarm != out_) {
        std::fprintf(alarm, "quillmesh-update-server: %.*s\n", static_cast<int>(text.size()),
                     text.data());
    }
}

ClientLog::ClientLog(ServerLog& log, std::uint32_t clientId, std::string peer)
    : log_(log), label_("client " + std::to_string(clientId) + " (" + std::move(peer) + "): ") {}

void ClientLog::Note(std::string_view text) {
    log_.Note(label_ + std::string(text));
}

}  // namespace qm::server
