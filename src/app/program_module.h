// The program's modules: libraries of its own in its library directory, found relative to the
// running program (so an unpacked package uses its own), loaded only when a run needs them.
#pragma once

#include <string>
#include <string_view>

namespace qm::app {

// The file name of the module `stem`: "<stem>.so" on POSIX systems, "<stem>.dll" on Windows.
std::string ModuleFileName(std::string_view stem);

// The path of the module `fileName` beside the running program.
std::string ProgramModulePath(std::string_view fileName);

// Loads the module at `path` for good and calls its entry point `symbol` (a function without
// arguments that returns a pointer to what the module offers). Nothing, with `reason` said,
// when the module cannot be loaded or lacks the entry point.
void const* OpenProgramModule(std::string const& path, char const* symbol, std::string& reason);

}  // namespace qm::app
