#include <windows.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "base/native_handle.h"
#include "base/win/system_path.h"
#include "store/path_check.h"
#include "store/windows_name_rules.h"

namespace qm::store {
namespace {

// The components of the decoded path, '/' and '\' both separating them.
std::vector<std::wstring> Components(std::wstring const& path) {
    std::vector<std::wstring> components(1);
    for (wchar_t const c : path) {
        if (c == L'/' || c == L'\\') {
            components.emplace_back();
        } else {
            components.back() += c;
        }
    }
    return components;
}

// Where `path` leads once every reparse point on the way is followed; nothing when it does not
// exist or cannot be opened.
std::optional<std::wstring> FinalPath(std::wstring const& path) {
    base::NativeHandle const opened = base::win::Own(::CreateFileW(
        path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!opened.valid()) {
        return std::nullopt;
    }
    std::wstring final(32768, L'\0');
    DWORD const length =
        ::GetFinalPathNameByHandleW(base::win::AsHandle(opened), final.data(),
                                    static_cast<DWORD>(final.size()), FILE_NAME_NORMALIZED);
    if (length == 0 || length >= final.size()) {
        return std::nullopt;
    }
    final.resize(length);
    return final;
}

// Names on Windows compare without regard to case.
bool IsWithin(std::wstring const& resolved, std::wstring const& base) {
    if (resolved.size() < base.size() ||
        ::CompareStringOrdinal(resolved.c_str(), static_cast<int>(base.size()), base.c_str(),
                               static_cast<int>(base.size()), TRUE) != CSTR_EQUAL) {
        return false;
    }
    return resolved.size() == base.size() || resolved[base.size()] == L'\\' || base.back() == L'\\';
}

// Every directory along the path that already exists must lead, through any reparse point (a
// link, a junction, a mount point), to the current directory or below it. The last component is
// the file itself, which is replaced or deleted, never written through.
bool ExistingDirectoriesStayInside(std::vector<std::wstring> const& components) {
    std::optional<std::wstring> const base = FinalPath(base::win::SystemPath("."));
    if (!base) {
        return false;
    }
    std::string prefix = ".";
    for (std::size_t i = 0; i + 1 < components.size(); ++i) {
        prefix += "/" + base::win::Narrow(components[i]);
        std::wstring const directory = base::win::SystemPath(prefix);
        if (::GetFileAttributesW(directory.c_str()) == INVALID_FILE_ATTRIBUTES) {
            // Nothing further along exists either; what is created later is created inside.
            DWORD const error = ::GetLastError();
            return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
        }
        std::optional<std::wstring> const resolved = FinalPath(directory);
        if (!resolved || !IsWithin(*resolved, *base)) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool FileSystemKeepsInside(std::string_view localPath) {
    std::vector<std::wstring> const components = Components(base::win::Widen(localPath));
    if (std::any_of(components.begin(), components.end(), [](std::wstring const& component) {
            return IsHazardousWindowsComponent(component);
        })) {
        return false;
    }
    return ExistingDirectoriesStayInside(components);
}

}  // namespace qm::store
