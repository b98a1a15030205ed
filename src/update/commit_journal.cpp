#include "update/commit_journal.h"

#include <cerrno>
#include <charconv>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>
#include <sstream>

#include "base/bytes.h"
#include "base/directory.h"
#include "base/file_moves.h"
#include "base/file_system.h"
#include "base/replacement_file.h"
#include "checksum/checksum.h"
#include "store/directory_chain.h"
#include "update/checksum_record.h"
#include "update/staged_files.h"

namespace qm::update {
namespace {

constexpr std::string_view kHeading = "quillmesh commit 1\n";
constexpr std::string_view kInstall = "install ";
constexpr std::string_view kDelete = "delete ";
constexpr std::string_view kRecord = "record ";
constexpr std::string_view kEnd = "end ";

// Paths and list names are bytes: anything but printable ASCII, and '%', is written as %XX, so
// that every entry is one line of words.
std::string Escaped(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (char const c : text) {
        auto const byte = static_cast<unsigned char>(c);
        if (byte <= ' ' || byte > '~' || byte == '%') {
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 15];
        } else {
            out += c;
        }
    }
    return out;
}

std::optional<std::string> Unescaped(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        unsigned value = 0;
        if (i + 2 >= text.size() ||
            std::from_chars(text.data() + i + 1, text.data() + i + 3, value, 16).ptr !=
                text.data() + i + 3) {
            return std::nullopt;
        }
        out += static_cast<char>(value);
        i += 2;
    }
    return out;
}

std::uint32_t ChecksumOf(std::string_view text) {
    return checksum::Crc32(base::AsBytes(text));
}

std::string JournalText(RunPlan const& plan) {
    std::string text(kHeading);
    for (std::string const& target : plan.installs()) {
        text.append(kInstall).append(Escaped(target)).append("\n");
    }
    for (std::string const& path : plan.deletions()) {
        text.append(kDelete).append(Escaped(path)).append("\n");
    }
    for (RunPlan::ListRecord const& record : plan.records()) {
        text.append(kRecord)
            .append(Escaped(record.listName))
            .append(" ")
            .append(std::to_string(record.checksum))
            .append("\n");
    }
    std::uint32_t const checksum = ChecksumOf(text);
    return text.append(kEnd).append(std::to_string(checksum)).append("\n");
}

// The plan a journal holds; nothing when it is not whole.
std::optional<RunPlan> ReadJournal(std::string const& text) {
    std::size_t const endLine = text.rfind(kEnd);
    if (!text.starts_with(kHeading) || endLine == std::string::npos || !text.ends_with("\n") ||
        (endLine > 0 && text[endLine - 1] != '\n')) {
        return std::nullopt;
    }
    std::uint32_t recorded = 0;
    std::string_view const number(text.data() + endLine + kEnd.size(),
                                  text.size() - endLine - kEnd.size() - 1);
    auto const [end, error] = std::from_chars(number.begin(), number.end(), recorded);
    if (error != std::errc() || end != number.end() ||
        recorded != ChecksumOf(std::string_view(text).substr(0, endLine))) {
        return std::nullopt;
    }
    RunPlan plan;
    std::istringstream lines(text.substr(kHeading.size(), endLine - kHeading.size()));
    for (std::string line; std::getline(lines, line);) {
        std::string_view const entry = line;
        if (entry.starts_with(kInstall)) {
            std::optional<std::string> const target = Unescaped(entry.substr(kInstall.size()));
            if (!target) {
                return std::nullopt;
            }
            plan.Install(*target);
        } else if (entry.starts_with(kDelete)) {
            std::optional<std::string> const path = Unescaped(entry.substr(kDelete.size()));
            if (!path) {
                return std::nullopt;
            }
            plan.Delete(*path);
        } else if (entry.starts_with(kRecord)) {
            std::string_view const rest = entry.substr(kRecord.size());
            std::size_t const blank = rest.rfind(' ');
            std::uint32_t crc = 0;
            std::optional<std::string> const name =
                blank == std::string_view::npos ? std::nullopt : Unescaped(rest.substr(0, blank));
            if (!name ||
                std::from_chars(rest.data() + blank + 1, rest.data() + rest.size(), crc).ec !=
                    std::errc()) {
                return std::nullopt;
            }
            plan.Record(*name, crc);
        } else {
            return std::nullopt;
        }
    }
    return plan;
}

bool WriteJournal(RunPlan const& plan) {
    std::optional<base::ReplacementFile> file =
        base::ReplacementFile::Create(kJournalPath, std::string(kJournalPrefix) + ".");
    std::string const text = JournalText(plan);
    return file && file->Write(base::AsBytes(text)) &&
           file->Commit(0600) == base::ReplacementFile::Outcome::Replaced;
}

// The directories whose entries the plan changes.
std::set<std::string> DirectoriesOf(RunPlan const& plan) {
    std::set<std::string> directories;
    for (std::string const& target : plan.installs()) {
        directories.insert(base::DirectoryOf(target));
    }
    for (std::string const& path : plan.deletions()) {
        directories.insert(base::DirectoryOf(path));
    }
    return directories;
}

// Flushes `directory`, or, when it went with its last file, the nearest directory above it that is
// still there: the one whose entry for it was removed. Without that flush a power cut could bring
// the removed directory back, with the files deleted in it.
void SyncNearestDirectory(std::string directory) {
    for (;; directory = base::DirectoryOf(directory)) {
        if (std::optional<base::Directory> const opened = base::Directory::Open(directory)) {
            opened->Sync();
            return;
        }
        if (directory == "." || directory == "/") {
            return;
        }
    }
}

// Each step of a journal, carried out so that doing it again changes nothing.
bool CarryOut(RunPlan const& plan, std::string& problem) {
    for (std::string const& target : plan.installs()) {
        std::optional<std::string> const staged = StagedPathOf(target);
        // A staged file that is gone was moved by an earlier attempt.
        if (staged && !base::MoveOver(*staged, target) && errno != ENOENT) {
            problem = "Cannot rename the file: " + target + " ...";
            return false;
        }
    }
    for (std::string const& path : plan.deletions()) {
        if (!base::RemoveFile(path)) {
            problem = "Cannot delete the file: " + path + " ...";
            return false;
        }
        store::RemoveDirectoryChain(path);
    }
    for (RunPlan::ListRecord const& record : plan.records()) {
        if (!RecordListChecksum(record.listName, record.checksum)) {
            problem = "Cannot write the file: ./crc.ini ...";
            return false;
        }
    }
    for (std::string const& directory : DirectoriesOf(plan)) {
        SyncNearestDirectory(directory);
    }
    return true;
}

bool RemoveJournal(std::string& problem) {
    if (!base::RemoveFile(kJournalPath)) {
        problem = std::string("Cannot delete the file: ") + kJournalPath + " ...";
        return false;
    }
    base::SyncDirectoryChain(".");
    return true;
}

std::optional<std::string> ReadWhole(char const* path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return std::nullopt;
    }
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

}  // namespace

bool CommitPlan(RunPlan const& plan, std::string& problem) {
    // The staged files and the directories made for them must outlive a power cut before the
    // journal can promise them.
    for (std::string const& directory : DirectoriesOf(plan)) {
        if (!base::SyncDirectoryChain(directory)) {
            problem = "Cannot write the directory: " + directory + " ...";
            return false;
        }
    }
    if (!WriteJournal(plan)) {
        problem = std::string("Cannot write the file: ") + kJournalPath + " ...";
        return false;
    }
    return CarryOut(plan, problem) && RemoveJournal(problem);
}

Recovery CompleteInterruptedCommit(std::string& problem) {
    if (std::optional<base::Directory> const here = base::Directory::Open(".")) {
        here->RemoveLeftovers(std::string(kJournalPrefix) + ".", base::kTemporarySuffixLength);
    }
    std::optional<std::string> const text = ReadWhole(kJournalPath);
    if (!text) {
        return Recovery::NoJournal;
    }
    std::optional<RunPlan> const plan = ReadJournal(*text);
    if (!plan) {
        return RemoveJournal(problem) ? Recovery::NoJournal : Recovery::Failed;
    }
    return CarryOut(*plan, problem) && RemoveJournal(problem) ? Recovery::Completed
                                                              : Recovery::Failed;
}

}  // namespace qm::update
