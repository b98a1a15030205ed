// A fresh directory under the system's temporary directory, removed with everything in it when
// the object goes.
#pragma once

#include <stdlib.h>
#include <sys/statvfs.h>

#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>

namespace qm::bench {

class ScratchDirectory {
  public:
    explicit ScratchDirectory(std::string const& prefix) {
        std::string name = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
        if (::mkdtemp(name.data()) == nullptr) {
            throw std::runtime_error("cannot create a directory like " + name);
        }
        path_ = name;
    }
    ~ScratchDirectory() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchDirectory(ScratchDirectory const&) = delete;
    ScratchDirectory& operator=(ScratchDirectory const&) = delete;

    std::filesystem::path const& path() const { return path_; }

    // Bytes that may still be written to the file system of the directory.
    std::uint64_t FreeBytes() const {
        struct statvfs status {};
        if (::statvfs(path_.c_str(), &status) != 0) {
            return 0;
        }
        return static_cast<std::uint64_t>(status.f_bavail) * status.f_frsize;
    }

  private:
    std::filesystem::path path_;
};

}  // namespace qm::bench
