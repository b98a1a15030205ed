#include "e2e/profile_text.h"

namespace qm::e2e {

std::vector<std::string> ProfileLines(std::string_view text) {
    std::vector<std::string> lines;
    while (!text.empty()) {
        std::size_t const end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (line.ends_with('\r')) {
            line.remove_suffix(1);
        }
        lines.emplace_back(line);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
    }
    return lines;
}

std::optional<std::string> ProfileEntry(std::string_view text, std::string_view section,
                                        std::string_view key) {
    std::string header = "[";
    header.append(section).append("]");
    std::string const prefix = std::string(key) + "=";
    bool inSection = false;
    for (std::string const& line : ProfileLines(text)) {
        if (line.starts_with('[')) {
            inSection = line == header;
        } else if (inSection && line.starts_with(prefix)) {
            return line.substr(prefix.size());
        }
    }
    return std::nullopt;
}

}  // namespace qm::e2e
