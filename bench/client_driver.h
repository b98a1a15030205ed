// Runs stop-and-wait clients against a server on one thread with poll(2): each connects, and
// every read is answered at once with the frames it calls for.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "stop_and_wait_client.h"

namespace qm::bench {

// Connects each client to `address`, port 34005, and runs all of them until each has finished
// or failed, or until `timeout`. Returns a description of the first problem, empty when all
// finished.
std::string RunClients(std::string const& address, std::vector<StopAndWaitClient>& clients,
                       std::chrono::seconds timeout);

}  // namespace qm::bench
