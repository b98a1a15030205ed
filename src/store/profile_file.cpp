#include "store/profile_file.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <vector>

#include "base/bytes.h"
#include "base/directory.h"
#include "base/file_system.h"
#include "base/replacement_file.h"

namespace qm::store {
namespace {

using base::FileContents;

constexpr std::string_view kBlanks = " \t\r\v\f";

std::string_view Trim(std::string_view text) {
    std::size_t const first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

std::string_view Unquote(std::string_view value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        return value.substr(1, value.size() - 2);
    }
    return value;
}

bool HasLineBreakOrNul(std::string_view text) {
    return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

// One line of a profile file as it reads: a section header "[name]", an entry "key=value" (a
// line without '=' is a key with an empty value), a comment starting with ';', or a blank line.
struct ProfileLine {
    enum class Kind { kBlank, kComment, kSection, kEntry };

    std::string_view text;    // the line without its line end
    std::string_view ending;  // "\r\n", "\n", or nothing on a last line without one
    Kind kind = Kind::kBlank;
    std::string_view name;   // section name or key, trimmed
    std::string_view value;  // entry value, trimmed, quotes still on

    static ProfileLine Parse(std::string_view text, std::string_view ending) {
        ProfileLine line;
        line.text = text;
        line.ending = ending;
        std::string_view const content = Trim(text);
        if (content.empty()) {
            return line;
        }
        if (content.front() == ';') {
            line.kind = Kind::kComment;
            return line;
        }
        std::size_t const close = content.find(']');
        if (content.front() == '[' && close != std::string_view::npos) {
            line.kind = Kind::kSection;
            line.name = Trim(content.substr(1, close - 1));
            return line;
        }
        line.kind = Kind::kEntry;
        std::size_t const equals = content.find('=');
        line.name = Trim(content.substr(0, equals));
        if (equals != std::string_view::npos) {
            line.value = Trim(content.substr(equals + 1));
        }
        return line;
    }
};

// The lines of one profile file's text, kept byte for byte so that a rewrite changes only the
// lines it means to change.
class ProfileDocument {
  public:
    explicit ProfileDocument(std::string_view content) {
        while (!content.empty()) {
            std::size_t const newline = content.find('\n');
            std::size_t const length = newline == std::string_view::npos ? content.size() : newline;
            std::size_t const endLength = newline == std::string_view::npos ? 0 : 1;
            std::string_view text = content.substr(0, length);
            std::string_view ending = content.substr(length, endLength);
            if (endLength != 0 && !text.empty() && text.back() == '\r') {
                text.remove_suffix(1);
                ending = content.substr(length - 1, 2);
            }
            lines_.push_back(ProfileLine::Parse(text, ending));
            content.remove_prefix(length + endLength);
        }
    }

    std::optional<std::string_view> Find(std::string_view section, std::string_view key) const {
        std::optional<Section> const found = FindSection(section);
        if (!found) {
            return std::nullopt;
        }
        std::optional<std::size_t> const entry = FindEntry(*found, key);
        if (!entry) {
            return std::nullopt;
        }
        return lines_[*entry].value;
    }

    // The whole text with `key` set to `value` in `section`.
    std::string WithValue(std::string_view section, std::string_view key,
                          std::string_view value) const {
        std::string const entryLine = std::string(key) + "=" + std::string(value);
        std::optional<Section> const found = FindSection(section);
        if (!found) {
            std::string text = Join(lines_.size(), "");
            if (!lines_.empty() && lines_.back().ending.empty()) {
                text += LineEnd();
            }
            std::string const eol(LineEnd());
            return text + "[" + std::string(section) + "]" + eol + entryLine + eol;
        }
        if (std::optional<std::size_t> const entry = FindEntry(*found, key)) {
            return Join(*entry, entryLine + std::string(lines_[*entry].ending));
        }
        std::size_t after = found->header;
        for (std::size_t i = found->header + 1; i < found->end; ++i) {
            if (lines_[i].kind == ProfileLine::Kind::kEntry) {
                after = i;
            }
        }
        std::string inserted = lines_[after].ending.empty() ? std::string(LineEnd()) : "";
        inserted += entryLine + std::string(LineEnd());
        return Join(after + 1, inserted, false);
    }

    // The entries of `section` in file order, each key once, with its first value.
    std::vector<std::pair<std::string_view, std::string_view>> Entries(
        std::string_view section) const {
        std::vector<std::pair<std::string_view, std::string_view>> entries;
        std::optional<Section> const found = FindSection(section);
        for (std::size_t i = found ? found->header + 1 : 0; found && i < found->end; ++i) {
            ProfileLine const& line = lines_[i];
            bool const seen = std::any_of(entries.begin(), entries.end(), [&](auto const& entry) {
                return SameName(entry.first, line.name);
            });
            if (line.kind == ProfileLine::Kind::kEntry && !seen) {
                entries.emplace_back(line.name, line.value);
            }
        }
        return entries;
    }

    // The whole text without any entry `key` in `section`, and without the section when no other
    // entry is left in it; nothing when there is no such entry.
    std::optional<std::string> WithoutKey(std::string_view section, std::string_view key) const {
        std::optional<Section> const found = FindSection(section);
        if (!found || !FindEntry(*found, key)) {
            return std::nullopt;
        }
        auto const isKey = [&](ProfileLine const& line) {
            return line.kind == ProfileLine::Kind::kEntry && SameName(line.name, key);
        };
        bool othersLeft = false;
        for (std::size_t i = found->header + 1; i < found->end; ++i) {
            othersLeft =
                othersLeft || (lines_[i].kind == ProfileLine::Kind::kEntry && !isKey(lines_[i]));
        }
        std::string text;
        for (std::size_t i = 0; i < lines_.size(); ++i) {
            bool const inSection = i >= found->header && i < found->end;
            if (inSection && (othersLeft ? isKey(lines_[i]) : true)) {
                continue;
            }
            text.append(lines_[i].text).append(lines_[i].ending);
        }
        return text;
    }

  private:
    // A header line and the end of the lines that belong to it.
    struct Section {
        std::size_t header;
        std::size_t end;
    };

    std::optional<Section> FindSection(std::string_view name) const {
        for (std::size_t i = 0; i < lines_.size(); ++i) {
            if (lines_[i].kind != ProfileLine::Kind::kSection || !SameName(lines_[i].name, name)) {
                continue;
            }
            std::size_t end = i + 1;
            while (end < lines_.size() && lines_[end].kind != ProfileLine::Kind::kSection) {
                ++end;
            }
            return Section{i, end};
        }
        return std::nullopt;
    }

    std::optional<std::size_t> FindEntry(Section const& section, std::string_view key) const {
        for (std::size_t i = section.header + 1; i < section.end; ++i) {
            if (lines_[i].kind == ProfileLine::Kind::kEntry && SameName(lines_[i].name, key)) {
                return i;
            }
        }
        return std::nullopt;
    }

    // New lines take the line end the file already uses.
    std::string_view LineEnd() const {
        for (ProfileLine const& line : lines_) {
            if (!line.ending.empty()) {
                return line.ending;
            }
        }
        return "\n";
    }

    // Every line as it was, with `replacement` put at line `at`: in place of it, or in front of
    // it when `replace` is false. An `at` past the last line appends.
    std::string Join(std::size_t at, std::string_view replacement, bool replace = true) const {
        std::string text;
        for (std::size_t i = 0; i <= lines_.size(); ++i) {
            if (i == at) {
                text += replacement;
                if (replace) {
                    continue;
                }
            }
            if (i < lines_.size()) {
                text += lines_[i].text;
                text += lines_[i].ending;
            }
        }
        return text;
    }

    std::vector<ProfileLine> lines_;
};

// Temporary files of a profile write are named "." + the file's name + "." + six characters.
std::string TemporaryPrefix(std::string_view path) {
    std::string prefix = ".";
    prefix.append(base::BaseName(path)).append(".");
    return prefix;
}

bool ReplaceFile(std::string const& path, std::string_view text, mode_t mode) {
    std::optional<base::ReplacementFile> file =
        base::ReplacementFile::Create(path, TemporaryPrefix(path));
    return file && file->Write(base::AsBytes(text)) &&
           file->Commit(mode) == base::ReplacementFile::Outcome::Replaced;
}

}  // namespace

bool IsProfileKey(std::string_view key) {
    return !key.empty() && Trim(key) == key && !HasLineBreakOrNul(key) &&
           key.find('=') == std::string_view::npos && key.front() != ';' && key.front() != '[';
}

std::optional<std::string> ReadProfileValue(std::string_view fileName, std::string_view section,
                                            std::string_view key) {
    FileContents const contents = base::ReadFileContents(std::string(fileName));
    if (contents.outcome != FileContents::Outcome::kRead) {
        return std::nullopt;
    }
    std::optional<std::string_view> const value = ProfileDocument(contents.text).Find(section, key);
    if (!value) {
        return std::nullopt;
    }
    std::string_view const text = Unquote(*value).substr(0, kProfileValueMax);
    if (text.empty()) {
        return std::nullopt;
    }
    return std::string(text);
}

bool WriteProfileValue(std::string_view fileName, std::string_view section, std::string_view key,
                       std::string_view value) {
    // Texts that would not read back as one section, key and value are not written: names with
    // blanks at an end (they are trimmed when read), keys that would read as a comment or a
    // section line.
    if (!IsProfileKey(key) || HasLineBreakOrNul(section) || HasLineBreakOrNul(value) ||
        section.find(']') != std::string_view::npos || Trim(section) != section) {
        return false;
    }
    // A value with blanks at an end, or one that stands in quotes itself, is written in double
    // quotes, which the reader removes, so that it reads back as it was given.
    std::string quoted;
    if (Trim(value) != value || Unquote(value) != value) {
        quoted.append("\"").append(value).append("\"");
        value = quoted;
    }
    std::string const path(fileName);
    FileContents const contents = base::ReadFileContents(path);
    if (contents.outcome == FileContents::Outcome::kFailed) {
        return false;
    }
    std::string const text = ProfileDocument(contents.text).WithValue(section, key, value);
    return ReplaceFile(path, text, contents.mode);
}

std::vector<std::pair<std::string, std::string>> ReadProfileSection(std::string_view fileName,
                                                                    std::string_view section) {
    FileContents const contents = base::ReadFileContents(std::string(fileName));
    std::vector<std::pair<std::string, std::string>> entries;
    if (contents.outcome != FileContents::Outcome::kRead) {
        return entries;
    }
    for (auto const& [key, value] : ProfileDocument(contents.text).Entries(section)) {
        entries.emplace_back(key, Unquote(value).substr(0, kProfileValueMax));
    }
    return entries;
}

bool RemoveProfileValue(std::string_view fileName, std::string_view section, std::string_view key) {
    std::string const path(fileName);
    FileContents const contents = base::ReadFileContents(path);
    if (contents.outcome == FileContents::Outcome::kMissing) {
        return true;
    }
    if (contents.outcome == FileContents::Outcome::kFailed) {
        return false;
    }
    std::optional<std::string> const text = ProfileDocument(contents.text).WithoutKey(section, key);
    if (text && text->empty()) {
        // Nothing left to keep: the file goes, as if it had never been written.
        return base::RemoveFile(path);
    }
    return !text || ReplaceFile(path, *text, contents.mode);
}

int RemoveProfileLeftovers(std::string_view fileName) {
    std::optional<base::Directory> const directory =
        base::Directory::Open(base::DirectoryOf(fileName));
    return directory
               ? directory->RemoveLeftovers(TemporaryPrefix(fileName), base::kTemporarySuffixLength)
               : 0;
}

unsigned long ParseUnsignedValue(std::optional<std::string> const& value) {
    constexpr unsigned long kLargest = 4294967295ul;
    if (!value) {
        return 0;
    }
    std::size_t i = 0;
    while (i < value->size() && std::isspace(static_cast<unsigned char>((*value)[i])) != 0) {
        ++i;
    }
    // Wider than the result: unsigned long has 32 bits on Windows, where result * 10 would wrap
    // before the comparison could see it pass the largest value.
    std::uint64_t result = 0;
    for (; i < value->size() && std::isdigit(static_cast<unsigned char>((*value)[i])) != 0; ++i) {
        result = result * 10 + static_cast<std::uint64_t>((*value)[i] - '0');
        if (result > kLargest) {
            return kLargest;
        }
    }
    return static_cast<unsigned long>(result);
}

}  // namespace qm::store
