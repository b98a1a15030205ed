#include "app/program_module.h"

#include <windows.h>

#include <filesystem>

#include "base/win/system_path.h"

namespace qm::app {

std::string ModuleFileName(std::string_view stem) {
    return std::string(stem) + ".dll";
}

std::string ProgramModulePath(std::string_view fileName) {
    std::wstring program(32768, L'\0');
    DWORD const length =
        ::GetModuleFileNameW(nullptr, program.data(), static_cast<DWORD>(program.size()));
    if (length == 0 || length >= program.size()) {
        return {};
    }
    program.resize(length);
    std::filesystem::path const beside = std::filesystem::path(program).parent_path() /
                                         QM_MODULE_DIR_FROM_PROGRAM / base::win::Widen(fileName);
    return base::win::Narrow(beside.lexically_normal().wstring());
}

void const* OpenProgramModule(std::string const& path, char const* symbol, std::string& reason) {
    // Never unloaded: what the module made lives until the program ends. Its own dependencies
    // are looked for beside it, not in the current directory.
    HMODULE const module =
        ::LoadLibraryExW(base::win::Widen(path).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (module == nullptr) {
        reason = path + ": cannot be loaded (error " + std::to_string(::GetLastError()) + ")";
        return nullptr;
    }
    using Entry = void const* (*)();
    auto const entry =
        reinterpret_cast<Entry>(reinterpret_cast<void (*)()>(::GetProcAddress(module, symbol)));
    void const* const offered = entry != nullptr ? entry() : nullptr;
    if (offered == nullptr) {
        reason = path + ": no entry point " + symbol;
    }
    return offered;
}

}  // namespace qm::app
