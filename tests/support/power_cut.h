// What a power cut leaves of a directory tree that a program was changing: the program's file
// operations, read from a trace of its system calls (support/syscall_trace.h), are replayed on a
// model of the tree, and at any point the model tells what the disk may hold if the power went
// then. The model of loss: file data written (and permission bits set) after the file's last
// flush, and the creations, renames and deletions of entries made after their directory's last
// flush, may be lost. Each file and each directory loses a tail of its unflushed changes, from
// none to all of them, independently of the others; a rename within one directory is one change
// of it. `sync` and `syncfs` flush everything.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "support/syscall_trace.h"

namespace qm::test {

// The tree as the disk holds it: every directory (path ending in '/') and file below the root.
struct TreeImageEntry {
    bool directory = false;
    mode_t mode = 0;
    std::string content;
    bool operator==(TreeImageEntry const&) const = default;
};
using TreeImage = std::map<std::string, TreeImageEntry>;

// How much of what was not flushed survives the cut.
enum class PowerCutLoss {
    AllUnflushed,  // everything not flushed is lost
    NothingLost,   // the cut leaves what the program saw (as a kill does)
    RandomTails,   // each file and directory keeps a random part of its unflushed changes
};

class PowerCutReplay {
  public:
    // Starts from the tree below `start` as it is on disk, all of it durable. The traced program
    // ran in `tracedRoot` (its working directory, which held the same tree when it started) with
    // `umask`.
    PowerCutReplay(std::filesystem::path const& start, std::filesystem::path const& tracedRoot,
                   mode_t umask);
    ~PowerCutReplay();
    PowerCutReplay(PowerCutReplay const&) = delete;
    PowerCutReplay& operator=(PowerCutReplay const&) = delete;

    // Replays one call; true when it changed the tree or flushed part of it (a point worth a
    // cut). Calls on anything outside the root change nothing. Throws std::runtime_error for a
    // change the model cannot follow (a hard link, a rename between directories, a write whose
    // bytes strace cut short).
    bool Apply(TracedCall const& call);

    // What the disk holds if the power goes now; `random` draws the tails for RandomTails.
    TreeImage AfterCut(PowerCutLoss loss, std::mt19937& random) const;

  private:
    struct Model;
    std::unique_ptr<Model> model_;
};

// A 64-bit digest of an image, to tell images apart cheaply.
std::uint64_t ImageDigest(TreeImage const& image);

// Writes the image below `root` (made if missing), permission bits included.
void WriteImage(TreeImage const& image, std::filesystem::path const& root);

}  // namespace qm::test
