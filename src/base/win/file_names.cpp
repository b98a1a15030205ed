#include "base/file_names.h"

#include <windows.h>

#include <array>

#include "base/directory.h"
#include "base/directory_lock.h"
#include "base/native_handle.h"
#include "base/replacement_file.h"
#include "base/win/file_identity.h"
#include "base/win/system_path.h"

namespace qm::base {
namespace win {

IdentityCalls SystemIdentityCalls() {
    return IdentityCalls{
        [](std::string const& path) -> std::optional<FileIdentity> {
            NativeHandle const file = Own(::CreateFileW(
                SystemPath(path).c_str(), FILE_READ_ATTRIBUTES,
                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
            BY_HANDLE_FILE_INFORMATION information{};
            if (!file.valid() || !::GetFileInformationByHandle(AsHandle(file), &information)) {
                return std::nullopt;
            }
            return FileIdentity{
                information.dwVolumeSerialNumber,
                (std::uint64_t{information.nFileIndexHigh} << 32) | information.nFileIndexLow};
        },
        [](std::string const& directory) {
            std::vector<std::string> names;
            WIN32_FIND_DATAW entry{};
            HANDLE const listing =
                ::FindFirstFileW((SystemPath(directory) + L"\\*").c_str(), &entry);
            if (listing == INVALID_HANDLE_VALUE) {
                return names;
            }
            do {
                if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
                    names.push_back(Narrow(entry.cFileName));
                }
            } while (::FindNextFileW(listing, &entry));
            ::FindClose(listing);
            return names;
        }};
}

bool IsAliasOf(std::string const& path, std::function<bool(std::string_view name)> const& isWorking,
               IdentityCalls const& calls) {
    if (BaseName(path).find('~') == std::string_view::npos) {
        return false;
    }
    std::optional<FileIdentity> const named = calls.identityOf(path);
    if (!named) {
        return false;
    }
    std::string const directory = DirectoryOf(path);
    for (std::string const& name : calls.namesIn(directory)) {
        if (isWorking(name) && calls.identityOf(directory + "/" + name) == named) {
            return true;
        }
    }
    return false;
}

}  // namespace win

bool NameStartsWith(std::string_view name, std::string_view prefix) {
    if (name.size() < prefix.size()) {
        return false;
    }
    std::wstring const head = win::Widen(name.substr(0, prefix.size()));
    std::wstring const wanted = win::Widen(prefix);
    return ::CompareStringOrdinal(head.c_str(), static_cast<int>(head.size()), wanted.c_str(),
                                  static_cast<int>(wanted.size()), TRUE) == CSTR_EQUAL;
}

std::span<const std::string_view> PlatformWorkingNames() {
    static constexpr std::array<std::string_view, 2> kNames = {kSetAsidePrefix, kRunLockFileName};
    return kNames;
}

bool IsAliasOfWorkingFile(std::string const& path,
                          std::function<bool(std::string_view name)> const& isWorking) {
    return win::IsAliasOf(path, isWorking, win::SystemIdentityCalls());
}

}  // namespace qm::base
