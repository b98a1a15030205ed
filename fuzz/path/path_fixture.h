// The directory tree that the path check is fuzzed in: a client directory (made the current
// directory) with plain files and directories, symbolic links that stay inside it (relative,
// absolute, back up to itself), links that lead out of it (to a sibling directory, to its parent,
// through nested directories), a link to a file outside, a dangling link, and link loops.
#pragma once

#include <string>

#include "support/scratch_directory.h"
#include "support/tree_snapshot.h"

namespace qm::fuzz {

class PathFixture {
  public:
    PathFixture();

    std::string const& clientDirectory() const { return client_; }

    // "" while the whole tree, inside and outside the client directory, is as it was built.
    std::string Changes() const;

  private:
    ScratchDirectory root_;
    std::string client_;
    TreeSnapshot built_;
};

}  // namespace qm::fuzz
