#include "support/profile_text.h"

#include <algorithm>
#include <sstream>

#include "support/temp_dir.h"

namespace qm::test {

std::vector<std::string_view> ProfileLines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        std::size_t const end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (line.ends_with('\r')) {
            line.remove_suffix(1);
        }
        lines.push_back(line);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
    }
    return lines;
}

std::optional<std::string> ProfileEntry(std::string_view text, std::string_view section,
                                        std::string_view key) {
    std::string const header = std::string("[").append(section).append("]");
    std::string const prefix = std::string(key) + "=";
    bool inSection = false;
    for (std::string_view const line : ProfileLines(text)) {
        if (line.starts_with('[')) {
            inSection = line == header;
        } else if (inSection && line.starts_with(prefix)) {
            return std::string(line.substr(prefix.size()));
        }
    }
    return std::nullopt;
}

void WriteUpdaterConfig(std::filesystem::path const& directory,
                        std::optional<std::string> const& server,
                        std::optional<std::string> const& exe) {
    std::string text = "[GENERAL]\n";
    if (server) {
        text += "SERVER=" + *server + "\n";
    }
    if (exe) {
        text += "EXE=" + *exe + "\n";
    }
    std::filesystem::create_directories(directory);
    WriteFile(directory / "upd.ini", text);
}

void AddUpdaterSettings(std::filesystem::path const& directory, std::string_view lines) {
    std::filesystem::path const config = directory / "upd.ini";
    WriteFile(config, ReadFile(config) + std::string(lines));
}

std::optional<std::map<std::string, std::string>> ParseChecksumRecord(std::string const& text) {
    std::istringstream in(text);
    std::string line;
    if (!std::getline(in, line) || line != "[GLOBAL_CRC]") {
        return std::nullopt;
    }
    std::map<std::string, std::string> entries;
    bool partials = false;  // the record of unfinished downloads may follow, checked alike
    while (std::getline(in, line)) {
        if (line == "[PARTIAL_DOWNLOADS]" && !partials) {
            partials = true;
            continue;
        }
        std::size_t const equals = line.find('=');
        if (equals == std::string::npos || equals == 0 || equals + 1 == line.size()) {
            return std::nullopt;
        }
        std::string const value = line.substr(equals + 1);
        if (!std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; })) {
            return std::nullopt;
        }
        if (!partials) {
            entries[line.substr(0, equals)] = value;
        }
    }
    if (!in.eof()) {
        return std::nullopt;
    }
    return entries;
}

}  // namespace qm::test
