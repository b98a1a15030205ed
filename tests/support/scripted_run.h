// The parts of one scripted end-to-end run: a client directory configured for the test's own
// server address, the scripted server listening there, the conversation on it, and the updater,
// started once the test has prepared the directory.
#pragma once

#include <optional>
#include <string>

#include "support/addresses.h"
#include "support/conversation.h"
#include "support/lines.h"
#include "support/process.h"
#include "support/profile_text.h"
#include "support/scripted_server.h"
#include "support/temp_dir.h"
#include "support/tree_snapshot.h"

namespace qm::test {

struct ScriptedRun {
    explicit ScriptedRun(TestAddress address) : ScriptedRun(LoopbackAddress(address)) {}
    explicit ScriptedRun(std::string const& address) : server(address) {
        WriteUpdaterConfig(dir.path(), server.address());
    }

    Process& Start() { return updater.emplace(UpdaterOptions(dir.path())); }

    // The completion summary, the updater's close of the connection, and its clean exit.
    ::testing::AssertionResult EndsCleanly() {
        ::testing::AssertionResult const completed = talk.Complete();
        std::optional<int> const status = updater->ExitStatus();
        if (status == kExitClean) {
            return completed;
        }
        return ::testing::AssertionFailure()
               << (completed ? "" : std::string(completed.message()) + "\n") << "exit status "
               << (status ? std::to_string(*status) : "none in time") << "\n"
               << updater->Transcript();
    }

    ClientDir dir;
    ScriptedServer server;
    Conversation talk{server};
    std::optional<Process> updater;  // destroyed first: a hung run is killed
};

}  // namespace qm::test
