#include <unistd.h>

#include <cerrno>

#include "base/native_handle.h"

namespace qm::base {

bool CloseNativeHandle(std::intptr_t handle) {
    return ::close(static_cast<int>(handle)) == 0;
}

std::size_t ReadNativeAt(std::intptr_t handle, std::span<std::uint8_t> buffer,
                         std::uint64_t offset) {
    for (;;) {
        ssize_t const got = ::pread(static_cast<int>(handle), buffer.data(), buffer.size(),
                                    static_cast<off_t>(offset));
        if (got >= 0) {
            return static_cast<std::size_t>(got);
        }
        if (errno != EINTR) {
            return 0;
        }
    }
}

}  // namespace qm::base
