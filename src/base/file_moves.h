// Whole files moved into place, as the commit of a run does them.
#pragma once

#include <string>

namespace qm::base {

// Moves the file `from` to `to` in one step, replacing a file that is there: `to` is never
// missing on the way. False when that cannot be done; errno tells why.
bool MoveOver(std::string const& from, std::string const& to);

// Flushes the entries of `directory` and of every directory above it up to the current one, so
// that what was created, renamed or removed in them survives a power cut. False when one of
// them could not be flushed.
bool SyncDirectoryChain(std::string const& directory);

}  // namespace qm::base
