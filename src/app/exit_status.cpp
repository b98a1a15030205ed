#include "app/exit_status.h"

#include <array>
#include <utility>

namespace qm::app {

ExitStatus ExitStatusForCaption(std::string_view caption) {
    static constexpr std::array<std::pair<std::string_view, ExitStatus>, 8> kByCaption{{
        {"Update successfull.", kExitCompleted},
        {"Upload failed", kExitUploadFailed},
        {"Configuration error:", kExitConfiguration},
        {"Network error", kExitNetwork},
        {"Network Error", kExitNetwork},
        {"Disk access error", kExitDisk},
        {"Program exit", kExitCancelled},
        {"Update successfull, but cannot launch:", kExitLaunchFailed},
    }};
    for (auto const& [known, status] : kByCaption) {
        if (known == caption) {
            return status;
        }
    }
    return kExitNetwork;
}

}  // namespace qm::app
