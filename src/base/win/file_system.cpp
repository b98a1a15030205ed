#include "base/file_system.h"

#include <windows.h>

#include <cerrno>

#include "base/native_handle.h"
#include "base/win/system_path.h"

namespace qm::base {

namespace {

bool IsPlainFile(DWORD attributes) {
    return (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
}

}  // namespace

std::optional<std::uint64_t> RegularFileSize(std::string const& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExW(win::SystemPath(path).c_str(), GetFileExInfoStandard, &data) ||
        !IsPlainFile(data.dwFileAttributes)) {
        return std::nullopt;
    }
    return (std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
}

bool IsDirectory(std::string const& path) {
    DWORD const attributes = ::GetFileAttributesW(win::SystemPath(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES &&
           (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ==
               FILE_ATTRIBUTE_DIRECTORY;
}

bool RemoveFile(std::string const& path) {
    if (::DeleteFileW(win::SystemPath(path).c_str())) {
        return true;
    }
    DWORD const error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
        return true;
    }
    errno = win::ErrnoOf(error);
    return false;
}

void RemoveRegularFile(std::string const& path) {
    if (RegularFileSize(path)) {
        ::DeleteFileW(win::SystemPath(path).c_str());
    }
}

bool MakeDirectory(std::string const& path) {
    return ::CreateDirectoryW(win::SystemPath(path).c_str(), nullptr) != 0 ||
           win::FailWithLastError();
}

bool RemoveEmptyDirectory(std::string const& path) {
    return ::RemoveDirectoryW(win::SystemPath(path).c_str()) != 0 || win::FailWithLastError();
}

std::optional<std::uint64_t> FreeSpace(std::string const& directory) {
    ULARGE_INTEGER available{};
    std::wstring path = win::SystemPath(directory);
    path += L'\\';
    if (!::GetDiskFreeSpaceExW(path.c_str(), &available, nullptr, nullptr)) {
        return std::nullopt;
    }
    return available.QuadPart;
}

FileContents ReadFileContents(std::string const& path) {
    FileContents contents;
    NativeHandle const file =
        win::Own(::CreateFileW(win::SystemPath(path).c_str(), GENERIC_READ,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) {
        DWORD const error = ::GetLastError();
        errno = win::ErrnoOf(error);
        bool const missing = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
        contents.outcome =
            missing ? FileContents::Outcome::kMissing : FileContents::Outcome::kFailed;
        return contents;
    }
    char block[16 * 1024];
    for (;;) {
        DWORD got = 0;
        if (!::ReadFile(win::AsHandle(file), block, sizeof block, &got, nullptr)) {
            win::FailWithLastError();
            return contents;
        }
        if (got == 0) {
            break;
        }
        contents.text.append(block, got);
    }
    contents.outcome = FileContents::Outcome::kRead;
    return contents;
}

}  // namespace qm::base
