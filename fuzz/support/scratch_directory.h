// A directory of a harness's own, created empty and removed with everything in it at the end.
// It is made in tmpfs (/dev/shm) when there is one, since downloads and profile writes flush
// every file to disk; QM_FUZZ_TMPDIR or TMPDIR choose another place.
#pragma once

#include <string>
#include <string_view>

namespace qm::fuzz {

class ScratchDirectory {
  public:
    explicit ScratchDirectory(std::string_view purpose);
    ~ScratchDirectory();
    ScratchDirectory(ScratchDirectory const&) = delete;
    ScratchDirectory& operator=(ScratchDirectory const&) = delete;

    // Absolute path, without symbolic links in it.
    std::string const& path() const { return path_; }

  private:
    std::string path_;
};

// Removes `path` and everything below it, never following a symbolic link.
void RemoveTree(std::string const& path);

}  // namespace qm::fuzz
