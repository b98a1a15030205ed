#include "app/run_settings.h"

#include <algorithm>
#include <cctype>

#include "net/key_pin.h"
#include "store/profile_file.h"

namespace qm::app {
namespace {

std::optional<std::string> Setting(char const* key) {
    return store::ReadProfileValue(kConfigFile, kConfigSection, key);
}

// A decimal whole number from `lowest` to `highest` (the reader has trimmed the blanks), or
// nothing.
std::optional<unsigned> WholeNumber(std::string const& text, unsigned lowest, unsigned highest) {
    if (text.empty() || text.size() > 9 ||
        !std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); })) {
        return std::nullopt;
    }
    unsigned long const value = std::stoul(text);
    if (value < lowest || value > highest) {
        return std::nullopt;
    }
    return static_cast<unsigned>(value);
}

}  // namespace

std::variant<RunSettings, update::Ending> ReadRunSettings() {
    RunSettings settings;
    std::optional<std::string> server = Setting("SERVER");
    if (!server) {
        return update::endings::NoServerAddress();
    }
    settings.serverAddress = std::move(*server);
    settings.launchProgram = Setting("EXE");
    if (std::optional<std::string> const timeout = Setting("TIMEOUT")) {
        std::optional<unsigned> const seconds = WholeNumber(*timeout, 0, kLongestStallLimit);
        if (!seconds) {
            return update::endings::ConfigurationError(
                "TIMEOUT must be a whole number of seconds from 0 to 86400");
        }
        settings.stallLimit = std::chrono::seconds(*seconds);
    }
    if (std::optional<std::string> const window = Setting("WINDOW")) {
        std::optional<unsigned> const requests = WholeNumber(*window, 1, kLargestRequestWindow);
        if (!requests) {
            return update::endings::ConfigurationError(
                "WINDOW must be a whole number from 1 to 256");
        }
        settings.requestWindow = *requests;
    }
    if (std::optional<std::string> apply = Setting("APPLY")) {
        std::transform(apply->begin(), apply->end(), apply->begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        if (*apply != "file" && *apply != "run") {
            return update::endings::ConfigurationError("APPLY must be file or run");
        }
        settings.applyWholeRun = *apply == "run";
    }
    if (std::optional<std::string> const retries = Setting("RETRIES")) {
        std::optional<unsigned> const times = WholeNumber(*retries, 0, kMostRetries);
        if (!times) {
            return update::endings::ConfigurationError(
                "RETRIES must be a whole number from 0 to 20");
        }
        settings.retries = *times;
    }
    if (std::optional<std::string> const pins = Setting("PIN")) {
        std::optional<std::vector<net::KeyPin>> parsed = net::ParseKeyPins(*pins);
        if (!parsed) {
            return update::endings::ConfigurationError(
                "PIN must be sha256// and 44 base64 characters, separated by ;");
        }
        settings.pins = std::move(*parsed);
    }
    return settings;
}

}  // namespace qm::app
