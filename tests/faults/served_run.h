// A scripted server that follows the updater instead of a fixed script: after the opening it sends
// the next of its steps (frames the test chose) for every acknowledgement or list request, answers
// file and chunk requests from its files, and sends the completion once the steps are used up. It
// serves one connection until the updater closes it; every wait is bounded.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "support/scripted_server.h"
#include "support/wire.h"

namespace qm::test {

struct ServedRun {
    std::vector<Bytes> steps{};            // frames, one per request for more
    std::map<std::string, Bytes> files{};  // by remote name
    Peers peers{};

    // Serves one whole connection; fails on a frame it cannot answer or when the updater stalls.
    ::testing::AssertionResult Serve(ScriptedServer& server) const;
};

}  // namespace qm::test
