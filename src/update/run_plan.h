// What a run that applies everything at once (APPLY=run) will do when the server reports the
// whole run complete: the staged files to move into place, the files to delete and the list
// checksums to record, as the walk of the lists announced them. A walk that starts again (on a
// new connection) starts a new plan.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qm::update {

class RunPlan {
  public:
    struct ListRecord {
        std::string listName;
        std::uint32_t checksum;
    };

    void Clear();

    // The staged file of `targetPath` goes in place.
    void Install(std::string const& targetPath);
    // `path` (normalised) is deleted.
    void Delete(std::string const& path);
    // The list's checksum is recorded; a later record of the same list replaces it.
    void Record(std::string_view listName, std::uint32_t checksum);

    // The checksum recorded for the list in this plan (names compare as crc.ini keys do).
    std::optional<std::uint32_t> RecordedChecksum(std::string_view listName) const;
    // Whether the plan moves the staged file at `stagedPath` (as StagedPathOf gives it).
    bool InstallsStaged(std::string const& stagedPath) const;

    std::vector<std::string> const& installs() const { return installs_; }
    std::vector<std::string> const& deletions() const { return deletions_; }
    std::vector<ListRecord> const& records() const { return records_; }
    bool empty() const { return installs_.empty() && deletions_.empty() && records_.empty(); }

  private:
    std::vector<std::string> installs_;
    std::set<std::string> stagedPaths_;  // of installs_, for look-ups
    std::vector<std::string> deletions_;
    std::set<std::string> deleted_;  // the same, for look-ups
    std::vector<ListRecord> records_;
};

}  // namespace qm::update
