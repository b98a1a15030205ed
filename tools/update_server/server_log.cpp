#include "update_server/server_log.h"

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

ClientLog::ClientLog(ServerLog& log, std::uint32_t clientId, std::string const& peer, bool quiet)
    : log_(log),
      label_("client " + std::to_string(clientId) + " (" + peer + "): "),
      quiet_(quiet) {}

void ClientLog::Note(std::string_view text) {
    if (!quiet_) {
        log_.Note(label_ + std::string(text));
    }
}

}  // namespace qm::server
