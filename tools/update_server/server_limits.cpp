#include "update_server/server_limits.h"

#include <algorithm>

namespace qm::server {

std::size_t MaxClientsFor(rlim_t descriptors) {
    if (descriptors == RLIM_INFINITY) {
        descriptors = 1 << 20;
    }
    rlim_t const free = descriptors > kReservedDescriptors ? descriptors - kReservedDescriptors : 0;
    return static_cast<std::size_t>(std::max<rlim_t>(1, free / kDescriptorsPerClient));
}

}  // namespace qm::server
