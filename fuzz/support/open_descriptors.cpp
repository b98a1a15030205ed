#include "support/open_descriptors.h"

#include <dirent.h>

#include <cstdlib>

namespace qm::fuzz {

std::set<int> OpenDescriptors() {
    std::set<int> open;
    DIR* listing = ::opendir("/proc/self/fd");
    if (listing == nullptr) {
        return open;
    }
    int const own = ::dirfd(listing);
    while (dirent const* entry = ::readdir(listing)) {
        if (entry->d_name[0] >= '0' && entry->d_name[0] <= '9') {
            int const fd = std::atoi(entry->d_name);
            if (fd != own) {
                open.insert(fd);
            }
        }
    }
    ::closedir(listing);
    return open;
}

}  // namespace qm::fuzz
