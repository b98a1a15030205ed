#include "profile/profile_lines.h"

#include <algorithm>
#include <cctype>

#include "support/profile_text.h"

namespace qm::fuzz {
namespace {

constexpr std::string_view kBlanks = " \t\r\v\f";

std::string_view Trim(std::string_view text) {
    std::size_t const first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

}  // namespace

std::vector<std::pair<std::string, std::string>> EntryNames(std::string_view text,
                                                            std::size_t limit) {
    std::vector<std::pair<std::string, std::string>> entries;
    std::string section;
    bool inSection = false;
    for (std::string_view const line : test::ProfileLines(text)) {
        std::string_view const content = Trim(line);
        if (content.empty() || content.front() == ';') {
            continue;
        }
        std::size_t const close = content.find(']');
        if (content.front() == '[' && close != std::string_view::npos) {
            section = Trim(content.substr(1, close - 1));
            inSection = true;
            continue;
        }
        std::string_view const key = Trim(content.substr(0, content.find('=')));
        if (inSection && !key.empty() && entries.size() < limit) {
            entries.emplace_back(section, key);
        }
    }
    return entries;
}

bool SameName(std::string_view a, std::string_view b) {
    return std::ranges::equal(
        a, b, [](unsigned char x, unsigned char y) { return std::tolower(x) == std::tolower(y); });
}

bool KeepsOtherLines(std::vector<std::string_view> const& before,
                     std::vector<std::string_view> const& after, std::size_t added) {
    if (after.size() > before.size() + added) {
        return false;
    }
    std::size_t const n = before.size();
    // prefix[i]: how much of `after` a greedy match of before[0, i) uses (after.size() + 1 when
    // it does not match); suffix[i]: where in `after` a greedy match of before[i, n) from the
    // back can start at the latest (-1 when it does not match).
    std::vector<std::size_t> prefix(n + 1, 0);
    for (std::size_t i = 0, j = 0; i < n; ++i) {
        while (j < after.size() && after[j] != before[i]) {
            ++j;
        }
        prefix[i + 1] = j < after.size() ? ++j : after.size() + 1;
    }
    std::vector<long> suffix(n + 1, static_cast<long>(after.size()));
    for (std::size_t i = n; i > 0; --i) {
        long j = suffix[i] - 1;
        while (j >= 0 && after[static_cast<std::size_t>(j)] != before[i - 1]) {
            --j;
        }
        suffix[i - 1] = j;
        if (j < 0) {
            for (std::size_t k = 0; k < i - 1; ++k) {
                suffix[k] = -1;
            }
            break;
        }
    }
    if (n == 0 || (prefix[n] <= after.size())) {
        return true;  // every line kept
    }
    for (std::size_t d = 0; d < n; ++d) {
        // Drop before[d]: before[0, d) must fit in front of before[d + 1, n).
        if (prefix[d] <= after.size() && suffix[d + 1] >= 0 &&
            static_cast<long>(prefix[d]) <= suffix[d + 1]) {
            return true;
        }
    }
    return false;
}

}  // namespace qm::fuzz
