// The real quillmesh-updater run once in a client directory, its plain output captured.
#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qm::test {

inline constexpr std::chrono::milliseconds kUpdaterTimeout{90000};

struct UpdaterResult {
    std::optional<int> exitStatus;  // nothing when it had to be killed
    std::string output;

    // The output lines that start with `prefix`.
    std::vector<std::string> LinesStartingWith(std::string_view prefix) const;
};

// Writes ./upd.ini of `clientDirectory` for a server at `address`, without EXE.
void WriteUpdaterConfig(std::filesystem::path const& clientDirectory, std::string const& address);

// Runs the updater in `clientDirectory`; its output goes through `outputFile` (outside the
// client directory, so that it does not count as one of the client's files).
UpdaterResult RunUpdater(std::filesystem::path const& clientDirectory,
                         std::filesystem::path const& outputFile);

}  // namespace qm::test
