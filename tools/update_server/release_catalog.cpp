#include "update_server/release_catalog.h"

#include <algorithm>
#include <limits>
#include <map>
#include <optional>
#include <utility>

#include "update_server/list_checksum.h"
#include "update_server/local_path_rule.h"
#include "update_server/wording.h"

namespace qm::server {
namespace {

constexpr std::string_view kListSuffix = ".ini";

std::string_view TopDirectoryOf(std::string_view path) {
    std::size_t const slash = path.find('/');
    return slash == std::string_view::npos ? std::string_view() : path.substr(0, slash);
}

// The updater records list checksums in a profile file keyed by list name; a name that could not
// be a key there would make its list be walked on every run.
std::optional<std::string> ListNameProblem(std::string_view directory) {
    std::string const name = std::string(directory) + std::string(kListSuffix);
    if (name == kFirstListName) {
        return "would make a second list named " + name;
    }
    if (directory.front() == '[' || directory.front() == ';' ||
        directory.find('=') != std::string_view::npos || directory.front() == ' ' ||
        directory.back() == ' ') {
        return "cannot name a list (no '=', no '[' or ';' first, no blank at either end)";
    }
    return std::nullopt;
}

std::optional<std::string> FileProblem(ReleaseFile const& file) {
    if (auto problem = LocalPathProblem(file.path)) {
        return "release file " + Quoted(file.path) + " " + *problem;
    }
    if (file.size > std::numeric_limits<std::uint32_t>::max()) {
        return "release file " + Quoted(file.path) + " is larger than 4294967295 bytes";
    }
    if (auto directory = TopDirectoryOf(file.path); !directory.empty()) {
        if (auto problem = ListNameProblem(directory)) {
            return "top-level directory " + Quoted(directory) + " " + *problem;
        }
    }
    return std::nullopt;
}

bool IsDirectoryOf(std::string_view directory, std::string_view path) {
    return path.size() > directory.size() && path.starts_with(directory) &&
           path[directory.size()] == '/';
}

std::optional<std::string> DeletionProblem(std::string_view deletion,
                                           std::vector<ReleaseFile> const& sortedFiles) {
    if (auto problem = LocalPathProblem(deletion)) {
        return "deletion " + Quoted(deletion) + " " + *problem;
    }
    if (auto directory = TopDirectoryOf(deletion); !directory.empty()) {
        if (auto problem = ListNameProblem(directory)) {
            return "deletion " + Quoted(deletion) + ": its directory " + *problem;
        }
    }
    for (ReleaseFile const& file : sortedFiles) {
        if (file.path == deletion) {
            return "deletion " + Quoted(deletion) + " is a file of the release";
        }
        if (IsDirectoryOf(deletion, file.path)) {
            return "deletion " + Quoted(deletion) + " is a directory of the release";
        }
        if (IsDirectoryOf(file.path, deletion)) {
            return "deletion " + Quoted(deletion) + " lies below the release file " +
                   Quoted(file.path);
        }
    }
    return std::nullopt;
}

// Lists keyed by name; std::map keeps the name order of the chain.
std::map<std::string, FileList> GroupIntoLists(std::vector<ReleaseFile> files,
                                               std::vector<std::string> deletions) {
    std::map<std::string, FileList> byName;
    byName[kFirstListName].name = kFirstListName;
    for (ReleaseFile& file : files) {
        FileList& list = byName[ListNameFor(file.path)];
        list.files.push_back(std::move(file));
    }
    for (std::string& deletion : deletions) {
        FileList& list = byName[ListNameFor(deletion)];
        list.deletions.push_back(std::move(deletion));
    }
    return byName;
}

std::vector<FileList> ChainLists(std::map<std::string, FileList> byName) {
    std::vector<FileList> chain;
    chain.push_back(std::move(byName.at(kFirstListName)));
    byName.erase(kFirstListName);
    for (auto& [name, list] : byName) {
        list.name = name;
        chain.push_back(std::move(list));
    }
    for (std::size_t i = 0; i + 1 < chain.size(); ++i) {
        chain[i].next = chain[i + 1].name;
    }
    for (FileList& list : chain) {
        list.checksum = ListChecksum(list);
    }
    return chain;
}

}  // namespace

std::string ListNameFor(std::string_view path) {
    std::string_view const directory = TopDirectoryOf(path);
    if (directory.empty()) {
        return kFirstListName;
    }
    return std::string(directory) + std::string(kListSuffix);
}

Outcome<ReleaseCatalog> ReleaseCatalog::Build(std::filesystem::path root,
                                              std::vector<ReleaseFile> files,
                                              std::vector<std::string> deletions) {
    std::sort(files.begin(), files.end(),
              [](ReleaseFile const& a, ReleaseFile const& b) { return a.path < b.path; });
    std::sort(deletions.begin(), deletions.end());
    deletions.erase(std::unique(deletions.begin(), deletions.end()), deletions.end());
    for (ReleaseFile const& file : files) {
        if (auto problem = FileProblem(file)) {
            return Outcome<ReleaseCatalog>::Failure(*problem);
        }
    }
    for (std::string const& deletion : deletions) {
        if (auto problem = DeletionProblem(deletion, files)) {
            return Outcome<ReleaseCatalog>::Failure(*problem);
        }
    }
    return Outcome<ReleaseCatalog>::Success(ReleaseCatalog(
        std::move(root), ChainLists(GroupIntoLists(std::move(files), std::move(deletions)))));
}

ReleaseCatalog::ReleaseCatalog(std::filesystem::path root, std::vector<FileList> lists)
    : root_(std::move(root)), lists_(std::move(lists)) {}

std::size_t ReleaseCatalog::FileCount() const {
    std::size_t count = 0;
    for (FileList const& list : lists_) {
        count += list.files.size();
    }
    return count;
}

FileList const* ReleaseCatalog::FindList(std::string_view name) const {
    auto const found = std::find_if(lists_.begin(), lists_.end(),
                                    [name](FileList const& list) { return list.name == name; });
    return found == lists_.end() ? nullptr : &*found;
}

ReleaseFile const* ReleaseCatalog::FindFile(std::string_view remoteName) const {
    FileList const* list = FindList(ListNameFor(remoteName));
    if (list == nullptr) {
        return nullptr;
    }
    auto const found = std::lower_bound(
        list->files.begin(), list->files.end(), remoteName,
        [](ReleaseFile const& file, std::string_view name) { return file.path < name; });
    return found != list->files.end() && found->path == remoteName ? &*found : nullptr;
}

}  // namespace qm::server
