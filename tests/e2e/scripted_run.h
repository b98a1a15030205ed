// The parts of one scripted end-to-end run: a client directory configured for the test's own
// server address, the scripted server listening there, the conversation on it, and the updater,
// started once the test has prepared the directory.
#pragma once

#include <optional>

#include "e2e/addresses.h"
#include "e2e/client_dir.h"
#include "e2e/conversation.h"
#include "e2e/scripted_server.h"
#include "e2e/updater_process.h"

namespace qm::e2e {

struct ScriptedRun {
    explicit ScriptedRun(TestAddress address) : server(LoopbackAddress(address)) {
        dir.WriteConfig(server.address());
    }

    UpdaterProcess& Start() { return updater.emplace(dir.path()); }

    ClientDir dir;
    ScriptedServer server;
    Conversation talk{server};
    std::optional<UpdaterProcess> updater;  // destroyed first: a hung run is killed
};

}  // namespace qm::e2e
