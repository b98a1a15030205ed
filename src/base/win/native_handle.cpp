#include <windows.h>

#include "base/native_handle.h"

namespace qm::base {

bool CloseNativeHandle(std::intptr_t handle) {
    return ::CloseHandle(reinterpret_cast<HANDLE>(handle)) != 0;
}

}  // namespace qm::base
