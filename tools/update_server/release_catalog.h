// What the server offers: the release's files grouped into chained file lists, each with the
// checksum of its contents.
//
// The files directly in the release directory form the list "quillmesh.ini"; every top-level
// directory D forms the list "D.ini" with all files below it. The lists follow "quillmesh.ini" in
// name order, and the last one names an empty next list. A deletion is announced in the list of
// the directory it lies in.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "update_server/outcome.h"

namespace qm::server {

inline constexpr char kFirstListName[] = "quillmesh.ini";

// Which file on disk was scanned: a file replaced or rewritten since has another identity.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;  // 0: not known
    std::int64_t modifiedNs = 0;

    bool operator==(FileIdentity const&) const = default;
};

// One file of the release; `path` is relative to the release directory, with '/' separators, and
// serves as both local path and remote name.
struct ReleaseFile {
    std::string path;
    std::uint32_t checksum = 0;
    std::uint64_t size = 0;
    FileIdentity identity{};
};

struct FileList {
    std::string name;
    std::string next;                    // empty after the last list
    std::vector<ReleaseFile> files;      // in path order
    std::vector<std::string> deletions;  // in path order
    std::uint32_t checksum = 0;

    // Descriptions between the list's begin and its end: one per file, one per deletion.
    std::size_t EntryCount() const { return files.size() + deletions.size(); }
};

// The list that announces `path`.
std::string ListNameFor(std::string_view path);

class ReleaseCatalog {
  public:
    // Groups `files` and `deletions` into lists. Refused, with the reason: a path that is not fit
    // to be sent as a local path, a file larger than a 32-bit size, a deletion that names a
    // release file or a directory of one, and a top-level directory that cannot name a list.
    static Outcome<ReleaseCatalog> Build(std::filesystem::path root, std::vector<ReleaseFile> files,
                                         std::vector<std::string> deletions);

    std::filesystem::path const& root() const { return root_; }
    std::vector<FileList> const& lists() const { return lists_; }
    std::size_t FileCount() const;

    // Nothing (nullptr) for an unknown name.
    FileList const* FindList(std::string_view name) const;
    ReleaseFile const* FindFile(std::string_view remoteName) const;

  private:
    ReleaseCatalog(std::filesystem::path root, std::vector<FileList> lists);

    std::filesystem::path root_;
    std::vector<FileList> lists_;
};

}  // namespace qm::server
