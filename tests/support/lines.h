// The lines the updater prints for its events when its output is not a terminal.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qm::test {

using Lines = std::vector<std::string>;  // lines of output, boxes, differences

inline std::string Status(std::string_view text) {
    return "status: " + std::string(text);
}
inline std::string Transfer(std::string_view text) {
    return "transfer: " + std::string(text);
}
inline std::string Progress(int percent) {
    return "progress: " + std::to_string(percent);
}
inline std::string Box(std::string_view caption, std::string_view text) {
    return "box: [" + std::string(caption) + "] " + std::string(text);
}
inline std::string BoxPrefix(std::string_view caption) {
    return "box: [" + std::string(caption) + "] ";
}
inline std::string Launch(std::string_view commandLine) {
    return "launch: " + std::string(commandLine);
}

inline constexpr char kSuccessCaption[] = "Update successfull.";
inline constexpr char kSuccessText[] = "Click \"OK\" to exit.";

// Exit statuses of the updater.
inline constexpr int kExitClean = 0;
inline constexpr int kExitUploadFailed = 1;
inline constexpr int kExitConfiguration = 2;
inline constexpr int kExitNetwork = 3;
inline constexpr int kExitDisk = 4;
inline constexpr int kExitCancelled = 5;
inline constexpr int kExitLaunchFailed = 6;
inline constexpr int kExitAlreadyRunning = 7;

}  // namespace qm::test
