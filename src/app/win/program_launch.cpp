#include "app/program_launch.h"

#include <windows.h>

#include <cstdlib>

#include "base/win/system_path.h"

namespace qm::app {
namespace {

bool IsProgramFile(std::string const& path) {
    DWORD const attributes = ::GetFileAttributesW(base::win::SystemPath(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// `path` as it is, or with ".exe" when it has no extension of its own.
std::string WithProgramFile(std::string const& path) {
    if (IsProgramFile(path)) {
        return path;
    }
    std::size_t const name = path.find_last_of("/\\:") + 1;
    if (path.find('.', name) == std::string::npos && IsProgramFile(path + ".exe")) {
        return path + ".exe";
    }
    return {};
}

std::string FullPath(std::string const& path) {
    std::wstring full = base::win::SystemPath(path);
    return base::win::Narrow(full.starts_with(LR"(\\?\)") ? std::wstring_view(full).substr(4)
                                                          : std::wstring_view(full));
}

}  // namespace

std::string FindProgram(std::string const& program) {
    if (program.empty()) {
        return {};
    }
    if (program.find_first_of("/\\:") != std::string::npos) {
        return WithProgramFile(program);
    }
    if (std::string const here = WithProgramFile(".\\" + program); !here.empty()) {
        return here;
    }
    char const* path = std::getenv("PATH");
    std::string_view directories = path != nullptr ? path : "";
    while (!directories.empty()) {
        std::size_t const semicolon = directories.find(';');
        std::string const directory(directories.substr(0, semicolon));
        if (!directory.empty()) {
            if (std::string found = WithProgramFile(directory + "\\" + program); !found.empty()) {
                return found;
            }
        }
        if (semicolon == std::string_view::npos) {
            break;
        }
        directories.remove_prefix(semicolon + 1);
    }
    return {};
}

bool LaunchProgram(std::string_view commandLine) {
    std::vector<std::string> const words = SplitCommandLine(commandLine);
    if (words.empty()) {
        return false;
    }
    std::string const file = FindProgram(words.front());
    if (file.empty()) {
        return false;
    }
    // The application name is the program found, never left to the system's search of the
    // unquoted line (where "C:\Program Files\x.exe" would start C:\Program.exe).
    std::wstring const application = base::win::Widen(FullPath(file));
    std::wstring line = base::win::Widen(JoinCommandLine(words));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION started{};
    if (!::CreateProcessW(application.c_str(), line.data(), nullptr, nullptr, FALSE,
                          CREATE_DEFAULT_ERROR_MODE, nullptr, nullptr, &startup, &started)) {
        return false;
    }
    ::CloseHandle(started.hThread);
    ::CloseHandle(started.hProcess);
    return true;
}

}  // namespace qm::app
