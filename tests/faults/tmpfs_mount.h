// A small tmpfs mounted over a directory for one test, so that the disk really fills up; unmounted
// again at the end. Needs the right to mount (root in the machine's own mount namespace).
#pragma once

#include <sys/mount.h>

#include <cstddef>
#include <filesystem>
#include <string>

namespace qm::test {

class TmpfsMount {
  public:
    TmpfsMount(std::filesystem::path where, std::size_t bytes) : where_(std::move(where)) {
        std::filesystem::create_directories(where_);
        std::string const options = "size=" + std::to_string(bytes) + ",mode=0755";
        mounted_ =
            ::mount("tmpfs", where_.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) == 0;
    }
    ~TmpfsMount() {
        if (mounted_) {
            ::umount2(where_.c_str(), MNT_DETACH);
        }
    }
    TmpfsMount(TmpfsMount const&) = delete;
    TmpfsMount& operator=(TmpfsMount const&) = delete;

    bool mounted() const { return mounted_; }

  private:
    std::filesystem::path where_;
    bool mounted_ = false;
};

}  // namespace qm::test
