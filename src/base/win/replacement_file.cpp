#include <windows.h>

#include <cerrno>

#include "base/directory.h"
#include "base/replacement_file.h"
#include "base/win/move_over.h"
#include "base/win/system_path.h"

namespace qm::base {
namespace {

constexpr DWORD kShareWithReaders = FILE_SHARE_READ | FILE_SHARE_DELETE;
constexpr int kNameAttempts = 100;

// Working files are hidden: a user looking at the install directory sees the program's files.
NativeHandle OpenWorkingFile(std::string const& path, DWORD disposition) {
    return win::Own(::CreateFileW(win::SystemPath(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                                  kShareWithReaders, nullptr, disposition,
                                  FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
}

bool SetPosition(HANDLE file, std::uint64_t offset) {
    LARGE_INTEGER position{};
    position.QuadPart = static_cast<LONGLONG>(offset);
    return ::SetFilePointerEx(file, position, nullptr, FILE_BEGIN) != 0;
}

// The new version becomes a plain file as it takes the target's place.
bool Unhide(HANDLE file) {
    FILE_BASIC_INFO basic{};
    if (!::GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic)) {
        return false;
    }
    basic.FileAttributes &= ~static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN);
    if (basic.FileAttributes == 0) {
        basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    }
    return ::SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic) != 0;
}

}  // namespace

std::optional<ReplacementFile> ReplacementFile::Create(std::string target,
                                                       std::string_view prefix) {
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        std::string name = DirectoryOf(target) + "/";
        name.append(prefix).append(win::RandomSuffix());
        NativeHandle file = OpenWorkingFile(name, CREATE_NEW);
        if (file.valid()) {
            return ReplacementFile(std::move(file), std::move(target), std::move(name));
        }
        if (::GetLastError() != ERROR_FILE_EXISTS) {
            break;
        }
    }
    win::FailWithLastError();
    return std::nullopt;
}

std::optional<ReplacementFile> ReplacementFile::OpenNamed(std::string target, std::string path) {
    NativeHandle file = OpenWorkingFile(path, OPEN_ALWAYS);
    BY_HANDLE_FILE_INFORMATION information{};
    if (!file.valid() || !::GetFileInformationByHandle(win::AsHandle(file), &information)) {
        win::FailWithLastError();
        return std::nullopt;
    }
    if ((information.dwFileAttributes &
         (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
        errno = EINVAL;
        return std::nullopt;
    }
    LARGE_INTEGER const none{};
    if (!::SetFilePointerEx(win::AsHandle(file), none, nullptr, FILE_END)) {
        win::FailWithLastError();
        return std::nullopt;
    }
    return ReplacementFile(std::move(file), std::move(target), std::move(path));
}

void ReplacementFile::Discard() {
    int const saved = errno;
    file_.Reset();
    if (!temporaryPath_.empty()) {
        ::DeleteFileW(win::SystemPath(temporaryPath_).c_str());
        temporaryPath_.clear();
    }
    errno = saved;
}

bool ReplacementFile::Truncate(std::uint64_t length) {
    HANDLE const file = win::AsHandle(file_);
    return (SetPosition(file, length) && ::SetEndOfFile(file)) || win::FailWithLastError();
}

bool ReplacementFile::Write(std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        DWORD written = 0;
        auto const size = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
        if (!::WriteFile(win::AsHandle(file_), bytes.data(), size, &written, nullptr)) {
            return win::FailWithLastError();
        }
        if (written == 0) {
            errno = ENOSPC;
            return false;
        }
        bytes = bytes.subspan(written);
        unflushed_ += written;
    }
    return true;
}

ReplacementFile::Outcome ReplacementFile::Commit(mode_t /*mode*/, std::string const& destination) {
    // Windows keeps no permission bits in the file: the directory's own access rules apply.
    HANDLE const file = win::AsHandle(file_);
    if (!::FlushFileBuffers(file) || !Unhide(file) || !file_.Reset()) {
        win::FailWithLastError();
        Discard();
        return Outcome::WriteFailed;
    }
    // A directory in the way is never set aside: its files would go with it. A link is renamed
    // itself, never what it leads to.
    std::wstring const target = win::SystemPath(destination);
    DWORD const attributes = ::GetFileAttributesW(target.c_str());
    bool const mayBeSetAside =
        attributes != INVALID_FILE_ATTRIBUTES && ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
                                                  (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0);
    std::wstring setAside;
    DWORD const error = win::MoveOver(win::SystemPath(temporaryPath_), target, mayBeSetAside,
                                      win::SystemMoveCalls(), setAside);
    if (error != 0) {
        errno = win::ErrnoOf(error);
        Discard();
        return Outcome::RenameFailed;
    }
    if (!setAside.empty()) {
        ::SetFileAttributesW(setAside.c_str(), FILE_ATTRIBUTE_HIDDEN);
    }
    temporaryPath_.clear();
    return Outcome::Replaced;
}

std::size_t ReplacementFile::ReadAt(std::span<std::uint8_t> buffer, std::uint64_t offset) const {
    // A read at an offset moves the position of a synchronous handle: the writes go on from
    // where they were.
    HANDLE const file = win::AsHandle(file_);
    LARGE_INTEGER const none{};
    LARGE_INTEGER position{};
    if (!::SetFilePointerEx(file, none, &position, FILE_CURRENT)) {
        win::FailWithLastError();
        return 0;
    }
    std::size_t const got = ReadNativeAt(file_.get(), buffer, offset);
    ::SetFilePointerEx(file, position, nullptr, FILE_BEGIN);
    return got;
}

std::optional<std::uint64_t> ReplacementFile::Size() const {
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(win::AsHandle(file_), &size)) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(size.QuadPart);
}

mode_t ReplacementMode(std::string const& /*target*/, mode_t fallback) {
    return fallback;
}

mode_t DefaultFileMode() {
    return 0666;
}

}  // namespace qm::base
