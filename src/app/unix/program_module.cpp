#include "app/program_module.h"

#include <dlfcn.h>

#include <filesystem>

namespace qm::app {

std::string ModuleFileName(std::string_view stem) {
    return std::string(stem) + ".so";
}

std::string ProgramModulePath(std::string_view fileName) {
    std::error_code error;
    std::filesystem::path const program = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) {
        return {};
    }
    return (program.parent_path() / QM_MODULE_DIR_FROM_PROGRAM / fileName)
        .lexically_normal()
        .string();
}

void const* OpenProgramModule(std::string const& path, char const* symbol, std::string& reason) {
    // Never unloaded: what the module made lives until the program ends.
    void* const module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
        char const* error = ::dlerror();
        reason = error != nullptr ? error : path + ": cannot be loaded";
        return nullptr;
    }
    using Entry = void const* (*)();
    auto const entry = reinterpret_cast<Entry>(::dlsym(module, symbol));
    void const* const offered = entry != nullptr ? entry() : nullptr;
    if (offered == nullptr) {
        reason = path + ": no entry point " + symbol;
    }
    return offered;
}

}  // namespace qm::app
