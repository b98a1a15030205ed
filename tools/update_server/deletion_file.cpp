#include "update_server/deletion_file.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <string_view>

namespace qm::server {
namespace {

std::string_view Trimmed(std::string_view line) {
    constexpr std::string_view kBlanks = " \t\r";
    std::size_t const first = line.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) {
        return {};
    }
    std::size_t const last = line.find_last_not_of(kBlanks);
    return line.substr(first, last - first + 1);
}

}  // namespace

Outcome<std::vector<std::string>> ReadDeletionFile(std::filesystem::path const& path) {
    using Result = Outcome<std::vector<std::string>>;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return Result::Failure("cannot read the deletion list '" + path.string() +
                               "': " + std::strerror(errno));
    }
    std::vector<std::string> deletions;
    std::string line;
    while (std::getline(in, line)) {
        std::string_view const text = Trimmed(line);
        if (!text.empty() && text.front() != '#') {
            deletions.emplace_back(text);
        }
    }
    if (in.bad()) {
        return Result::Failure("cannot read the deletion list '" + path.string() + "'");
    }
    return Result::Success(std::move(deletions));
}

}  // namespace qm::server
