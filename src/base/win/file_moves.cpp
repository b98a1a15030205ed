#include <windows.h>

#include <cerrno>

#include "base/file_moves.h"
#include "base/file_system.h"
#include "base/win/move_over.h"
#include "base/win/system_path.h"

namespace qm::base {

// With the replacement's own retries and rename-aside of a target in use (win/move_over.h).
bool MoveOver(std::string const& from, std::string const& to) {
    std::wstring setAside;
    DWORD const error = win::MoveOver(win::SystemPath(from), win::SystemPath(to), !IsDirectory(to),
                                      win::SystemMoveCalls(), setAside);
    if (error != 0) {
        errno = win::ErrnoOf(error);
        return false;
    }
    if (!setAside.empty()) {
        ::SetFileAttributesW(setAside.c_str(), FILE_ATTRIBUTE_HIDDEN);
    }
    return true;
}

}  // namespace qm::base
