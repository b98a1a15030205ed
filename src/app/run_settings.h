// The settings of a run, from section GENERAL of ./upd.ini.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "net/secure_channel.h"
#include "update/ending.h"

namespace qm::app {

inline constexpr char kConfigFile[] = "./upd.ini";
inline constexpr char kConfigSection[] = "GENERAL";

struct RunSettings {
    std::string serverAddress;                 // SERVER, required
    std::optional<std::string> launchProgram;  // EXE
    // TIMEOUT: how long the server may stay silent while the updater waits for it; 0 for ever.
    std::chrono::seconds stallLimit{120};
    // WINDOW: how many chunk requests may be outstanding; 1 is stop-and-wait.
    unsigned requestWindow = 1;
    // PIN: the hashes of the server keys the updater accepts, over TLS; none for plain TCP.
    std::vector<net::KeyPin> pins;
    // APPLY=run: nothing the client program uses changes before the whole run is complete;
    // APPLY=file (false): each file as it arrives.
    bool applyWholeRun = false;
    // RETRIES: how many times in a row a connection lost after the run's first WELCOME is made
    // again; 0 ends the run at the first loss.
    unsigned retries = 0;
};

inline constexpr unsigned kLongestStallLimit = 86400;
inline constexpr unsigned kLargestRequestWindow = 256;
inline constexpr unsigned kMostRetries = 20;

// The settings, or the ending of a run whose configuration is unusable: no SERVER, a TIMEOUT,
// WINDOW or RETRIES that is not a decimal whole number in its range, a PIN that is not a list of
// pins, an APPLY that is neither file nor run. Missing settings take their defaults; a missing or
// empty PIN means plain TCP.
std::variant<RunSettings, update::Ending> ReadRunSettings();

}  // namespace qm::app
