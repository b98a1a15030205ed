#include <windows.h>

#include <algorithm>
#include <cerrno>

#include "base/native_handle.h"
#include "base/win/system_path.h"

namespace qm::base {

bool CloseNativeHandle(std::intptr_t handle) {
    return ::CloseHandle(reinterpret_cast<HANDLE>(handle)) != 0;
}

std::size_t ReadNativeAt(std::intptr_t handle, std::span<std::uint8_t> buffer,
                         std::uint64_t offset) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD got = 0;
    auto const size = static_cast<DWORD>(std::min<std::size_t>(buffer.size(), 1u << 30));
    if (!::ReadFile(reinterpret_cast<HANDLE>(handle), buffer.data(), size, &got, &at)) {
        DWORD const error = ::GetLastError();
        if (error != ERROR_HANDLE_EOF) {
            errno = win::ErrnoOf(error);
        }
        return 0;
    }
    return got;
}

}  // namespace qm::base
