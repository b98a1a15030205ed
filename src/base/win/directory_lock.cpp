#include <windows.h>

#include <cstring>

#include "base/directory_lock.h"
#include "base/win/system_path.h"

namespace qm::base {

DirectoryLock::Attempt DirectoryLock::TryLock(std::string const& path) {
    // Shared with nobody: a second updater's open fails with a sharing violation. The system
    // closes it when the process ends, however it ends, and then deletes it.
    std::wstring const file = win::SystemPath(path + "/" + kRunLockFileName);
    NativeHandle handle = win::Own(
        ::CreateFileW(file.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, OPEN_ALWAYS,
                      FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    if (!handle.valid()) {
        DWORD const error = ::GetLastError();
        // A lock file being deleted by its last holder refuses access until it is gone.
        bool const held = error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED;
        return Refusal{.heldElsewhere = held, .reason = std::strerror(win::ErrnoOf(error))};
    }
    return DirectoryLock(std::move(handle));
}

}  // namespace qm::base
