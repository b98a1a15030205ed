// The process's exit status, decided by the first ending of a run.
#pragma once

#include <string_view>

namespace qm::app {

enum ExitStatus : int {
    kExitCompleted = 0,      // program started, or no EXE to start
    kExitUploadFailed = 1,   // completion with errors counted
    kExitConfiguration = 2,  // upd.ini without a server address
    kExitNetwork = 3,        // any network failure
    kExitDisk = 4,           // any disk access error
    kExitCancelled = 5,      // the user (or a signal) cancelled the run
    kExitLaunchFailed = 6,   // completion, but the program could not be started
};

// The status that an ending with a box of this caption gives.
ExitStatus ExitStatusForCaption(std::string_view caption);

}  // namespace qm::app
