// Fuzzes the check that keeps the updater inside its directory: StaysInsideCurrentDirectory on
// arbitrary text, in a client directory full of symbolic links that lead inside and outside.
//
// Input: the path text, every byte of it.
//
// Checked: when the path is accepted, the text is not empty, not absolute, has no NUL, no drive
// letter and no ".." component, and every directory prefix of the normalised path that exists
// resolves (realpath) to the client directory or below; a path that meets all of these is
// accepted; the check changes nothing on disk.
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <filesystem>
#include <iterator>
#include <string>
#include <string_view>
#include <system_error>

#include "path/path_fixture.h"
#include "store/path_check.h"
#include "support/violation.h"

namespace {

using qm::fuzz::Require;
using qm::fuzz::Violation;

bool IsSeparator(char c) {
    return c == '/' || c == '\\';
}

// Refusals that the text alone decides.
bool IsPlainRelative(std::string_view text) {
    if (text.empty() || IsSeparator(text.front()) || text.find('\0') != std::string_view::npos) {
        return false;
    }
    if (text.size() >= 2 && std::isalpha(static_cast<unsigned char>(text[0])) != 0 &&
        text[1] == ':') {
        return false;
    }
    std::size_t start = 0;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        if (i == text.size() || IsSeparator(text[i])) {
            if (text.substr(start, i - start) == "..") {
                return false;
            }
            start = i + 1;
        }
    }
    return true;
}

bool IsInside(std::filesystem::path const& resolved, std::string const& base) {
    std::string const text = resolved.string();
    return text.compare(0, base.size(), base) == 0 &&
           (text.size() == base.size() || text[base.size()] == '/');
}

enum class Prefixes { Inside, Outside, Unknowable };

// Where the existing directory prefixes of the normalised path lead, component by component, as
// the standard library's file system sees them. A prefix that cannot be looked at for a reason
// other than its absence makes the answer unknowable.
Prefixes ExistingPrefixes(std::string_view text, std::string const& base) {
    std::string normalised(text);
    std::replace(normalised.begin(), normalised.end(), '\\', '/');
    std::filesystem::path const path(normalised);
    std::filesystem::path prefix;
    // Every component but the last is a directory the path goes through.
    for (auto component = path.begin();
         component != path.end() && std::next(component) != path.end(); ++component) {
        prefix /= *component;
        std::error_code error;
        std::filesystem::file_status const status = std::filesystem::symlink_status(prefix, error);
        if (status.type() == std::filesystem::file_type::not_found) {
            continue;  // nothing below an absent prefix exists either
        }
        if (error) {
            return Prefixes::Unknowable;
        }
        std::filesystem::path const resolved = std::filesystem::canonical(prefix, error);
        if (error || !IsInside(resolved, base)) {
            return Prefixes::Outside;
        }
    }
    return Prefixes::Inside;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size) {
    // The check works on the current directory, which is process-wide by nature; the tree of
    // links it is run in is therefore built and entered once per process, and every input is
    // checked to have left it as it was.
    static qm::fuzz::PathFixture const fixture;

    std::string_view const text(reinterpret_cast<char const*>(data), size);
    bool const accepted = qm::store::StaysInsideCurrentDirectory(text);
    bool const plain = IsPlainRelative(text);
    Prefixes const prefixes = ExistingPrefixes(text, fixture.clientDirectory());

    if (accepted) {
        Require(plain, "accepted a path that is empty, absolute, has NUL, a drive or '..'");
        Require(prefixes == Prefixes::Inside, "accepted a path whose directories lead outside");
    } else if (plain && prefixes == Prefixes::Inside) {
        Violation("refused a path that stays inside");
    }
    std::string const changes = fixture.Changes();
    Require(changes.empty(), "the path check changed the disk: " + changes);
    return 0;
}
