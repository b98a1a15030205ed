// Fuzzes the profile files: ReadProfileValue and WriteProfileValue on arbitrary file contents
// with an arbitrary section, key and value.
//
// Input: a flags byte (which file name; whether the file exists), the section and the key, each
// after a length byte, the value after a 16-bit length (taken modulo 600), then the file's
// content.
//
// Checked: a read gives nothing or 1 to 254 characters; a refused write leaves the file as it was;
// a write that succeeds reads back as the value written (cut to 254 characters), leaves the
// value of every other entry and every other line as it was, and leaves no temporary file behind;
// a plain section, key and value are always stored.
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "profile/profile_lines.h"
#include "store/profile_file.h"
#include "support/escaped.h"
#include "support/input_reader.h"
#include "support/profile_text.h"
#include "support/scratch_directory.h"
#include "support/temp_dir.h"
#include "support/tree_snapshot.h"
#include "support/violation.h"

namespace {

using qm::fuzz::Require;
using qm::fuzz::Violation;

constexpr std::size_t kWatchedEntries = 24;
constexpr std::size_t kLongestValue = 600;

struct Input {
    std::string fileName;
    bool fileExists;
    std::string section;
    std::string key;
    std::string value;
    std::string content;
};

Input ReadInput(std::span<const std::uint8_t> data) {
    qm::fuzz::InputReader reader(data);
    std::uint8_t const flags = reader.Byte();
    static constexpr char const* kNames[] = {"crc.ini", "upd.ini", "sub/x.ini", ".hidden.ini"};
    Input input;
    input.fileName = kNames[flags & 3];
    input.fileExists = (flags & 4) == 0;
    input.section = reader.Text(reader.Byte());
    input.key = reader.Text(reader.Byte());
    input.value = reader.Text(reader.BigEndian16() % kLongestValue);
    std::span<const std::uint8_t> const rest = reader.Rest();
    input.content.assign(rest.begin(), rest.end());
    return input;
}

bool IsPlainName(std::string_view text) {
    return std::ranges::all_of(text, [](char const c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '_' || c == '.' || c == '-';
    });
}

void CheckReadResult(std::optional<std::string> const& value) {
    if (value) {
        Require(!value->empty(), "a read gave an empty value instead of nothing");
        Require(value->size() <= qm::store::kProfileValueMax, "a read gave more than 254 chars");
    }
}

// The value a read of the written entry must give.
std::optional<std::string> ReadBack(std::string const& value) {
    std::string cut = value.substr(0, qm::store::kProfileValueMax);
    return cut.empty() ? std::nullopt : std::optional<std::string>(cut);
}

struct Watched {
    std::string section;
    std::string key;
    std::optional<std::string> value;
};

std::vector<Watched> WatchEntries(std::string const& path, Input const& input) {
    std::vector<Watched> watched;
    for (auto& [section, key] : qm::fuzz::EntryNames(input.content, kWatchedEntries)) {
        if (qm::fuzz::SameName(section, input.section) && qm::fuzz::SameName(key, input.key)) {
            continue;
        }
        std::optional<std::string> value = qm::store::ReadProfileValue(path, section, key);
        CheckReadResult(value);
        watched.push_back(Watched{section, key, std::move(value)});
    }
    return watched;
}

void CheckStoredWrite(std::string const& path, Input const& input,
                      std::vector<Watched> const& watched, std::string const& before) {
    std::optional<std::string> const readBack =
        qm::store::ReadProfileValue(path, input.section, input.key);
    if (readBack != ReadBack(input.value)) {
        Violation("the value written does not read back: [" + qm::fuzz::Escaped(input.section) +
                  "] '" + qm::fuzz::Escaped(input.key) + "' = '" + qm::fuzz::Escaped(input.value) +
                  "' read back as " +
                  (readBack ? "'" + qm::fuzz::Escaped(*readBack) + "'" : "nothing"));
    }
    for (Watched const& entry : watched) {
        if (qm::store::ReadProfileValue(path, entry.section, entry.key) != entry.value) {
            Violation("writing [" + qm::fuzz::Escaped(input.section) + "] '" +
                      qm::fuzz::Escaped(input.key) + "' changed the value of [" +
                      qm::fuzz::Escaped(entry.section) + "] '" + qm::fuzz::Escaped(entry.key) +
                      "'");
        }
    }
    std::optional<std::string> const after = qm::test::ReadIfPresent(path);
    Require(after.has_value(), "a stored write left no file");
    // A new section brings its header and the entry.
    if (!qm::fuzz::KeepsOtherLines(qm::test::ProfileLines(before), qm::test::ProfileLines(*after),
                                   2)) {
        Violation("a write changed lines other than the entry it wrote");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size) {
    Input const input = ReadInput(std::span<const std::uint8_t>(data, size));
    qm::fuzz::ScratchDirectory directory("profile");
    Require(::mkdir((directory.path() + "/sub").c_str(), 0755) == 0, "cannot create sub/");
    std::string const path = directory.path() + "/" + input.fileName;
    if (input.fileExists) {
        Require(qm::test::WriteFile(path, input.content), "cannot write the profile file");
    }
    std::string const before = input.fileExists ? input.content : std::string();

    CheckReadResult(qm::store::ReadProfileValue(path, input.section, input.key));
    std::vector<Watched> const watched = WatchEntries(path, input);
    qm::fuzz::TreeSnapshot const snapshot = qm::fuzz::SnapshotTree(directory.path());

    bool const stored = qm::store::WriteProfileValue(path, input.section, input.key, input.value);

    qm::fuzz::TreeSnapshot const afterWrite = qm::fuzz::SnapshotTree(directory.path());
    if (!stored) {
        std::string const difference = qm::fuzz::DescribeDifference(snapshot, afterWrite);
        Require(difference.empty(), "a refused write changed the directory: " + difference);
        bool const plain = !input.section.empty() && IsPlainName(input.section) &&
                           !input.key.empty() && IsPlainName(input.key) && IsPlainName(input.value);
        Require(!plain, "a plain section, key and value were refused");
        return 0;
    }
    for (auto const& [name, entry] : afterWrite) {
        if (name != input.fileName && !snapshot.contains(name)) {
            Violation("a write left " + qm::fuzz::Escaped(name) + " behind");
        }
    }
    CheckStoredWrite(path, input, watched, before);
    return 0;
}
