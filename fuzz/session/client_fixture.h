// The client directory that the fuzzed session works in, and its surroundings: a few files,
// profile files, a sub directory with a leftover of a killed download, an empty directory, and
// symbolic links that lead out of the client directory to a sentinel directory beside it.
//
// Reset() puts everything back as it was built. Check() tells what an input did that it must not
// do: change anything outside the client directory, lose a file that the server did not ask to
// delete, leave a file whose checksum the server never announced, or leave a temporary file.
#pragma once

#include <cstdint>
#include <set>
#include <string>

#include "support/scratch_directory.h"
#include "support/tree_snapshot.h"

namespace qm::fuzz {

// What the server's messages allowed: the files it asked to delete (paths relative to the
// client directory, resolved as the directory stood before the conversation) and the checksums
// of the files it described.
struct ServerPermissions {
    std::set<std::string> deletions;
    std::set<std::uint32_t> checksums;
};

class ClientFixture {
  public:
    ClientFixture();

    std::string const& clientDirectory() const { return client_; }

    // Rebuilds the client directory as it was first built and makes it the current directory.
    void Reset();

    // "" when the input kept to the rules, otherwise what it broke.
    std::string Check(ServerPermissions const& permissions) const;

  private:
    void Build() const;
    std::string CheckOutside() const;
    std::string CheckInside(ServerPermissions const& permissions) const;

    ScratchDirectory root_;
    std::string client_;
    TreeSnapshot outside_;  // the root without the client directory
    TreeSnapshot inside_;   // the client directory as built
};

// The same path as the client directory's entries are named in a TreeSnapshot: '\' turned into
// '/', empty and "." components dropped, and the directory part resolved through the links that
// exist now, when it exists and stays inside `clientDirectory`.
std::string ClientRelativePath(std::string const& clientDirectory, std::string_view path);

}  // namespace qm::fuzz
