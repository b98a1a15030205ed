#include <windows.h>

#include "base/directory.h"
#include "base/win/system_path.h"

namespace qm::base {

std::optional<Directory> Directory::Open(std::string const& path) {
    // Opened for nothing but to hold it: every other opener may still read, write and rename
    // inside it.
    NativeHandle handle =
        win::Own(::CreateFileW(win::SystemPath(path).c_str(), FILE_READ_ATTRIBUTES,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION information{};
    if (!handle.valid() || !::GetFileInformationByHandle(win::AsHandle(handle), &information) ||
        (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        return std::nullopt;
    }
    return Directory(std::move(handle), path);
}

// A rename is written through (MOVEFILE_WRITE_THROUGH) before it returns: the directory has
// nothing left to flush.
bool Directory::Sync() const {
    return true;
}

int Directory::RemoveFilesIf(std::function<bool(std::string_view name)> const& unwanted) const {
    std::wstring const directory = win::SystemPath(path_);
    WIN32_FIND_DATAW entry{};
    HANDLE const listing = ::FindFirstFileW((directory + L"\\*").c_str(), &entry);
    if (listing == INVALID_HANDLE_VALUE) {
        return 0;
    }
    int removed = 0;
    do {
        bool const plain = (entry.dwFileAttributes &
                            (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
        if (plain && unwanted(win::Narrow(entry.cFileName)) &&
            ::DeleteFileW((directory + L"\\" + entry.cFileName).c_str())) {
            ++removed;
        }
    } while (::FindNextFileW(listing, &entry));
    ::FindClose(listing);
    return removed;
}

}  // namespace qm::base
