// Many runs of the updater at once against one scripted listener on one address, for tables whose
// every case needs a run of its own (the updater waits a second before it connects, so one run
// after another would take too long). Each connection the listener accepts gets the next case's
// bytes and is then closed for writing (or held open, for cases where the updater must end the run
// itself); the updater behind each connection is found through the kernel's socket table, so each
// run is checked against the case it was served.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "support/process.h"
#include "support/temp_dir.h"
#include "support/tree_snapshot.h"
#include "support/wire.h"

namespace qm::test {

struct FleetCase {
    Bytes bytes;
    bool closeAfterSending = true;  // else held open until the updater closes
};

using PrepareRun = std::function<void(ClientDir&)>;
using CheckRun = std::function<void(std::size_t caseIndex, ClientDir&, Process&, Ending const&)>;

// Runs every case once, at most `inFlight` updaters at a time, each in a fresh client directory
// that `prepare` furnishes (upd.ini already names `address`). `check` runs after each run ended;
// a run that does not end within `runTimeout` is killed and fails the test.
void RunFleet(std::string const& address, std::vector<FleetCase> const& cases, std::size_t inFlight,
              PrepareRun const& prepare, CheckRun const& check, Millis runTimeout = Millis(40000));

}  // namespace qm::test
