#include "updater_run.h"

#include <fstream>
#include <iterator>
#include <sstream>

#include "child_process.h"

namespace qm::test {

std::vector<std::string> UpdaterResult::LinesStartingWith(std::string_view prefix) const {
    std::vector<std::string> lines;
    std::istringstream in(output);
    std::string line;
    while (std::getline(in, line)) {
        if (line.starts_with(prefix)) {
            lines.push_back(line);
        }
    }
    return lines;
}

void WriteUpdaterConfig(std::filesystem::path const& clientDirectory, std::string const& address) {
    std::filesystem::create_directories(clientDirectory);
    std::ofstream(clientDirectory / "upd.ini") << "[GENERAL]\nSERVER=" << address << "\n";
}

UpdaterResult RunUpdater(std::filesystem::path const& clientDirectory,
                         std::filesystem::path const& outputFile) {
    std::filesystem::path const errors = outputFile.string() + ".err";
    UpdaterResult result;
    result.exitStatus =
        RunToEnd(ChildLaunch{{QM_UPDATER_BINARY_PATH}, clientDirectory, outputFile, errors},
                 kUpdaterTimeout);
    std::ifstream out(outputFile, std::ios::binary);
    result.output.assign(std::istreambuf_iterator<char>(out), {});
    std::ifstream err(errors, std::ios::binary);
    result.output.append(std::istreambuf_iterator<char>(err), {});
    return result;
}

}  // namespace qm::test
