#include "update/run_plan.h"

#include <algorithm>
#include <cctype>

#include "update/staged_files.h"

namespace qm::update {
namespace {

bool SameKey(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) ==
               std::tolower(static_cast<unsigned char>(y));
    });
}

}  // namespace

void RunPlan::Clear() {
    installs_.clear();
    stagedPaths_.clear();
    deletions_.clear();
    deleted_.clear();
    records_.clear();
}

void RunPlan::Install(std::string const& targetPath) {
    std::optional<std::string> staged = StagedPathOf(targetPath);
    if (staged && stagedPaths_.insert(std::move(*staged)).second) {
        installs_.push_back(targetPath);
    }
}

void RunPlan::Delete(std::string const& path) {
    if (deleted_.insert(path).second) {
        deletions_.push_back(path);
    }
}

void RunPlan::Record(std::string_view listName, std::uint32_t checksum) {
    auto const found = std::find_if(records_.begin(), records_.end(), [&](ListRecord const& r) {
        return SameKey(r.listName, listName);
    });
    if (found != records_.end()) {
        found->checksum = checksum;
        return;
    }
    records_.push_back({std::string(listName), checksum});
}

std::optional<std::uint32_t> RunPlan::RecordedChecksum(std::string_view listName) const {
    for (ListRecord const& record : records_) {
        if (SameKey(record.listName, listName)) {
            return record.checksum;
        }
    }
    return std::nullopt;
}

bool RunPlan::InstallsStaged(std::string const& stagedPath) const {
    return stagedPaths_.contains(stagedPath);
}

}  // namespace qm::update
