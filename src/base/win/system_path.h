// Paths at the edge of the Windows system calls. The program's paths are byte strings in the
// system's ANSI code page (the names on the wire, as the program's earlier ANSI calls took them);
// the wide calls get them decoded, made absolute and in the long-path form (\\?\), so that the
// protocol's 400-character paths work under any install directory.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

#include "base/native_handle.h"

namespace qm::base::win {

// ANSI code page to UTF-16 and back.
std::wstring Widen(std::string_view text);
std::string Narrow(std::wstring_view text);

// `path` ('/' or '\' between components, relative to the current directory or absolute) as the
// wide calls take it: absolute, '\' only, "." and ".." resolved, in the long-path form.
std::wstring SystemPath(std::string const& path);

// A handle of the system in its owner, and back.
inline NativeHandle Own(HANDLE handle) {
    return NativeHandle(reinterpret_cast<std::intptr_t>(handle));
}
inline HANDLE AsHandle(NativeHandle const& handle) {
    return reinterpret_cast<HANDLE>(handle.get());
}

// errno for a Windows error code, so that the shared code can say why with strerror.
int ErrnoOf(DWORD error);
// Sets errno from GetLastError() and returns false, for the failures of calls.
bool FailWithLastError();

}  // namespace qm::base::win
