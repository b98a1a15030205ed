#include "app/program_launch.h"

namespace qm::app {

std::vector<std::string> SplitCommandLine(std::string_view commandLine) {
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    bool quoted = false;
    for (char c : commandLine) {
        if (c == '"') {
            quoted = !quoted;
            inWord = true;
        } else if ((c == ' ' || c == '\t') && !quoted) {
            if (inWord) {
                words.push_back(std::move(word));
                word.clear();
                inWord = false;
            }
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord) {
        words.push_back(std::move(word));
    }
    return words;
}

std::string JoinCommandLine(std::vector<std::string> const& words) {
    std::string line;
    for (std::string const& word : words) {
        if (!line.empty()) {
            line += ' ';
        }
        line += QuoteWord(word);
    }
    return line;
}

std::string QuoteWord(std::string_view word) {
    if (!word.empty() && word.find_first_of(" \t\"") == std::string_view::npos) {
        return std::string(word);
    }
    // Inside quotes, backslashes are literal except before a quote: those are doubled, and the
    // quote itself is escaped.
    std::string quoted = "\"";
    std::size_t backslashes = 0;
    for (char const c : word) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        if (c == '"') {
            quoted.append(2 * backslashes + 1, '\\');
        } else {
            quoted.append(backslashes, '\\');
        }
        backslashes = 0;
        quoted += c;
    }
    quoted.append(2 * backslashes, '\\');
    quoted += '"';
    return quoted;
}

}  // namespace qm::app
