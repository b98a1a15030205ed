// The last step of a replacement on Windows: the new file takes the target's place.
//
// MoveFileExW replaces the target and writes the change through. A sharing violation (a virus
// scanner that holds the new file, a reader of the target) is tried again every
// kSharingRetryStep for up to kSharingRetryLimit. A target that still cannot be replaced, or is
// denied outright (a running program), is renamed aside under kSetAsidePrefix when the system
// lets it be renamed, and the new file is put in its place. The system calls come through
// MoveCalls, so that tests can show what wine cannot (a held file, a running program).
#pragma once

#include <windows.h>

#include <chrono>
#include <functional>
#include <string>

namespace qm::base::win {

inline constexpr std::chrono::milliseconds kSharingRetryStep{50};

struct MoveCalls {
    // MoveFileExW: nonzero on success, else the error in GetLastError.
    std::function<BOOL(wchar_t const* from, wchar_t const* to, DWORD flags)> move;
    std::function<void(std::chrono::milliseconds)> sleep;
    std::function<std::chrono::steady_clock::time_point()> now;
};

// The system's own calls.
MoveCalls SystemMoveCalls();

// Puts `from` in the place of `to` (both in the long-path form, in one directory). 0 on success,
// else the Windows error of the last attempt; `from` is then where it was and `to` untouched.
// Only a target that `mayBeSetAside` (a file or a link, never a directory, whose files would go
// with it) is renamed aside; `setAside` receives its new path.
DWORD MoveOver(std::wstring const& from, std::wstring const& to, bool mayBeSetAside,
               MoveCalls const& calls, std::wstring& setAside);

// kTemporarySuffixLength random letters and digits, for the names of working files.
std::string RandomSuffix();

// A name for a target set aside beside `to`: kSetAsidePrefix and random characters.
std::wstring SetAsideName(std::wstring const& to);

}  // namespace qm::base::win
