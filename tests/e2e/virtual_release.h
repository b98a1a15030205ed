// A whole small release served by following the conversation, for runs where the test cares about
// the result rather than each step: the server walks its file lists in order, lets the updater
// skip lists whose checksum it already holds, describes every file, sends the ones the updater
// asks for, deletes what the release no longer has, and ends with the completion summary. Every
// frame of the updater is still checked byte for byte. It serves one run on its own thread.
#pragma once

#include <string>
#include <thread>
#include <vector>

#include "support/scripted_server.h"
#include "support/wire.h"

namespace qm::test {

struct ReleaseFile {
    std::string localPath;
    std::string remoteName;
    Bytes content;
};

struct ReleaseList {
    std::string name;
    std::uint32_t checksum = 0;
    std::vector<ReleaseFile> files;
    std::vector<std::string> deletions;  // local paths
};

struct ReleaseReport {
    std::vector<std::string> failures;      // empty when the updater behaved
    std::vector<std::string> downloaded;    // remote names, in order
    std::vector<std::string> unchanged;     // remote names the updater already had
    std::vector<std::string> skippedLists;  // lists whose checksum the updater already held
    bool completed = false;                 // the completion was sent and the updater hung up
};

class VirtualRelease {
  public:
    // Listens at once, so the updater can be started right after. `lists` must not be empty;
    // the first one is "quillmesh.ini".
    VirtualRelease(std::string address, std::vector<ReleaseList> lists, Peers peers = {});
    ~VirtualRelease();
    VirtualRelease(VirtualRelease const&) = delete;
    VirtualRelease& operator=(VirtualRelease const&) = delete;

    void Start();
    // Waits for the run to be served (every step of it is bounded) and tells how it went.
    ReleaseReport Join();

  private:
    class Run;
    void Serve();

    ScriptedServer server_;
    std::vector<ReleaseList> lists_;
    Peers peers_;
    std::thread thread_;
    ReleaseReport report_;
};

}  // namespace qm::test
