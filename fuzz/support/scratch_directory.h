// A directory of a harness's own, created empty and removed with everything in it at the end.
// It is made in tmpfs (/dev/shm) when there is one, since downloads and profile writes flush
// every file to disk; QM_FUZZ_TMPDIR or TMPDIR choose another place.
#pragma once

#include <string>
#include <string_view>

#include "support/temp_dir.h"
#include "support/tree_snapshot.h"

namespace qm::fuzz {

using test::DescribeDifference;
using test::SnapshotTree;
using test::TreeEntry;
using test::TreeSnapshot;

class ScratchDirectory {
  public:
    explicit ScratchDirectory(std::string_view purpose);

    // Absolute path, without symbolic links in it.
    std::string const& path() const { return path_; }

  private:
    test::TempDir directory_;
    std::string path_;
};

}  // namespace qm::fuzz
