#include <unistd.h>

#include "base/native_handle.h"

namespace qm::base {

bool CloseNativeHandle(std::intptr_t handle) {
    return ::close(static_cast<int>(handle)) == 0;
}

}  // namespace qm::base
